#include "datasource.h"
#include "datasourcehandle.h"
#include "hostapplication.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

class TestDataSource : public QObject
{
    Q_OBJECT
private slots:
    void handlesShareOneSource();
    void publishStampsKeepsAndSignals();
    void historyIsBounded();
    void lookups_data();
    void lookups();
    void samplesCrossThreads();
    void hostSharesOneSourcePerName();
    void sourceOutlivesHostWhileHeld();
};

void TestDataSource::handlesShareOneSource()
{
    DataSourceHandle first = DataSourceHandle::create(QStringLiteral("a"));
    QPointer<DataSource> watch(first.get());
    DataSourceHandle second = first;
    {
        DataSourceHandle third(first.get());
        QCOMPARE(third, first);
    }
    QVERIFY(!watch.isNull());
    first.reset();
    QVERIFY(first.isNull());
    QVERIFY(!watch.isNull());
    QCOMPARE(second->name(), QStringLiteral("a"));
    DataSourceHandle moved(std::move(second));
    QVERIFY(second.isNull());
    DataSourceHandle& alias = moved;
    moved = alias; // self-assignment must not free
    QVERIFY(!watch.isNull());
    moved = DataSourceHandle::create(QStringLiteral("b")); // lets go of "a"
    QVERIFY(watch.isNull());
}

void TestDataSource::publishStampsKeepsAndSignals()
{
    DataSourceHandle source = DataSourceHandle::create(QStringLiteral("rate"));
    QSignalSpy spy(source.get(), &DataSource::newData);
    QCOMPARE(source->getSampleCount(-1), 0u);
    QVERIFY(source->getSample(-1, -1).isNull());
    QVERIFY(!source->getValue(-1, -1).isValid());

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    source->publish(1500u);
    source->publish(2500u);

    QCOMPARE(spy.count(), 2);
    const auto sample = spy.at(1).at(0).value<CVNDataSample>();
    QCOMPARE(sample.value.toUInt(), 2500u);
    QVERIFY(sample.timestamp.msecsSinceEpoch() >= before);
    QCOMPARE(source->getSampleCount(-1), 2u);
    QCOMPARE(source->getValue(-1, -1).toUInt(), 2500u);
    QCOMPARE(source->getValue(0, 0).toUInt(), 1500u);
    QCOMPARE(source->getSample(-1, -1).timestamp, sample.timestamp);
}

void TestDataSource::historyIsBounded()
{
    DataSourceHandle source = DataSourceHandle::create(QStringLiteral("long"));
    const int total = DataSource::HistoryLength + 25;
    for (int i = 0; i < total; ++i)
        source->publish(i);
    QCOMPARE(source->getSampleCount(-1), quint32(DataSource::HistoryLength));
    QCOMPARE(source->getValue(-1, 0).toInt(), 25);
    QCOMPARE(source->getValue(-1, -1).toInt(), total - 1);
}

void TestDataSource::lookups_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("index");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("newest") << -1 << -1 << QVariant(30);
    QTest::newRow("oldest") << -1 << 0 << QVariant(10);
    QTest::newRow("past the end") << -1 << 3 << QVariant();
    QTest::newRow("negative index") << -1 << -2 << QVariant();
    QTest::newRow("unknown channel") << 1 << -1 << QVariant();
}

void TestDataSource::lookups()
{
    QFETCH(int, channel);
    QFETCH(int, index);
    QFETCH(QVariant, expected);
    DataSourceHandle source = DataSourceHandle::create(QStringLiteral("l"));
    for (int value : {10, 20, 30})
        source->publish(value);
    QCOMPARE(source->getValue(channel, index), expected);
    QCOMPARE(source->getSample(channel, index).isNull(), !expected.isValid());
    QCOMPARE(source->getSampleCount(channel), channel <= 0 ? 3u : 0u);
}

// Samples reach a receiver on another thread by a queued connection, which
// only works when the sample type is registered by name.
void TestDataSource::samplesCrossThreads()
{
    QVERIFY(QMetaType::fromName("CVNDataSample").isValid());
    DataSourceHandle source = DataSourceHandle::create(QStringLiteral("x"));
    QThread worker;
    QObject receiver;
    receiver.moveToThread(&worker);
    QVariant seen;
    QThread* seenOn = nullptr;
    connect(
        source.get(), &DataSource::newData, &receiver,
        [&](CVNDataSample sample) {
            seen = sample.value;
            seenOn = QThread::currentThread();
        },
        Qt::QueuedConnection);
    worker.start();
    source->publish(QStringLiteral("hello"));
    QTRY_COMPARE(seen, QVariant(QStringLiteral("hello")));
    QCOMPARE(seenOn, &worker);
    worker.quit();
    worker.wait();
}

void TestDataSource::hostSharesOneSourcePerName()
{
    HostApplication host;
    const DataSourceHandle a =
        host.getDataSource(QStringLiteral("System.Network.Total.BandwidthRx"));
    const DataSourceHandle b =
        host.getDataSource(QStringLiteral("System.Network.Total.BandwidthRx"));
    const DataSourceHandle c = host.getDataSource(QStringLiteral("Application.BandwidthUnit"));
    QVERIFY(a);
    QCOMPARE(a, b);
    QVERIFY(a != c);
    QVERIFY(host.getDataSource(QString()).isNull());
    a->publish(42u);
    QCOMPARE(b->getValue(-1, -1).toUInt(), 42u);
    QCOMPARE(host.dataSourceNames(),
             QStringList({QStringLiteral("Application.BandwidthUnit"),
                          QStringLiteral("System.Network.Total.BandwidthRx")}));
}

void TestDataSource::sourceOutlivesHostWhileHeld()
{
    DataSourceHandle kept;
    QPointer<DataSource> dropped;
    {
        HostApplication host;
        kept = host.getDataSource(QStringLiteral("kept"));
        dropped = host.getDataSource(QStringLiteral("dropped")).get();
        QVERIFY(!dropped.isNull()); // the registry still holds it
    }
    QVERIFY(dropped.isNull());
    QCOMPARE(kept->name(), QStringLiteral("kept"));
}

QTEST_GUILESS_MAIN(TestDataSource)
#include "tst_datasource.moc"
