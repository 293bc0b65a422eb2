#include "datasource.h"
#include "datasourcehandle.h"
#include "hostapplication.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

class TestDataSource : public QObject
{
    Q_OBJECT
private slots:
    // Samples and handles cross threads by queued connections, which look the
    // types up by name. First, before any test use could register them.
    void typesAreRegisteredByName()
    {
        QVERIFY(QMetaType::fromName("CVNDataSample").isValid());
        QVERIFY(QMetaType::fromName("DataSourceHandle").isValid());
    }

    void handlesShareOneSource()
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

    void publishKeepsABoundedHistory()
    {
        DataSourceHandle source = DataSourceHandle::create(QStringLiteral("rate"));
        QSignalSpy spy(source.get(), &DataSource::newData);
        QCOMPARE(source->getSampleCount(-1), 0u);
        QVERIFY(source->getSample(-1, -1).isNull());

        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const int total = DataSource::HistoryLength + 25;
        for (int i = 0; i < total; ++i)
            source->publish(i);
        QCOMPARE(spy.count(), total);
        const auto sample = spy.last().at(0).value<CVNDataSample>();
        QCOMPARE(sample.value.toInt(), total - 1);
        QVERIFY(sample.timestamp.msecsSinceEpoch() >= before);
        QCOMPARE(source->getSample(-1, -1).timestamp, sample.timestamp);

        // Channels -1 and 0 are the one channel; index 0 is the oldest kept.
        QCOMPARE(source->getSampleCount(0), quint32(DataSource::HistoryLength));
        QCOMPARE(source->getValue(-1, -1).toInt(), total - 1);
        QCOMPARE(source->getValue(0, 0).toInt(), 25);
        QCOMPARE(source->getValue(-1, DataSource::HistoryLength - 1).toInt(), total - 1);
        QVERIFY(!source->getValue(-1, DataSource::HistoryLength).isValid());
        QVERIFY(source->getSample(-1, -2).isNull());
        QVERIFY(!source->getValue(1, -1).isValid());
        QCOMPARE(source->getSampleCount(1), 0u);
    }

    void hostSharesOneSourcePerName()
    {
        DataSourceHandle kept;
        QPointer<DataSource> dropped;
        {
            HostApplication host;
            kept = host.getDataSource(QStringLiteral("Tx"));
            QCOMPARE(host.getDataSource(QStringLiteral("Tx")), kept);
            dropped = host.getDataSource(QStringLiteral("Rx")).get();
            for (const char* name : {"Mx", "Ax"}) // inserted out of order
                host.getDataSource(name);
            QVERIFY(kept && kept.get() != dropped);
            QVERIFY(host.getDataSource(QString()).isNull());
            QCOMPARE(host.dataSourceNames(), QStringList({"Ax", "Mx", "Rx", "Tx"}));
            QVERIFY(!dropped.isNull()); // the registry still holds it
        }
        QVERIFY(dropped.isNull());
        QCOMPARE(kept->name(), QStringLiteral("Tx")); // outlives the host while held
    }
};

QTEST_GUILESS_MAIN(TestDataSource)
#include "tst_datasource.moc"
