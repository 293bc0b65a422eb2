#include "rateallocator.h"

#include <QTest>

using Flow = RateAllocator::Flow;
Q_DECLARE_METATYPE(QList<RateAllocator::Flow>)

class TestRateAllocator : public QObject
{
    Q_OBJECT
private slots:
    void allocate_data();
    void allocate();
    void neverExceedsCapacityOrDemand();
};

void TestRateAllocator::allocate_data()
{
    QTest::addColumn<QList<Flow>>("flows");
    QTest::addColumn<qint64>("capacity");
    QTest::addColumn<QList<quint32>>("expected");

    QTest::newRow("room for all") << QList<Flow>{{100, -1, 1}, {200, -1, 1}} << qint64(1000)
                                  << QList<quint32>{100, 200};
    QTest::newRow("unlimited link")
        << QList<Flow>{{5000000, -1, 1}} << qint64(-1) << QList<quint32>{5000000};
    QTest::newRow("cap below demand")
        << QList<Flow>{{500, 120, 1}, {50, 120, 1}} << qint64(-1) << QList<quint32>{120, 50};
    QTest::newRow("blocked") << QList<Flow>{{500, 0, 8}, {300, -1, 1}} << qint64(1000)
                             << QList<quint32>{0, 300};
    QTest::newRow("equal split") << QList<Flow>{{1000, -1, 2}, {1000, -1, 2}} << qint64(1000)
                                 << QList<quint32>{500, 500};
    QTest::newRow("weights share contention")
        << QList<Flow>{{1000, -1, 4}, {1000, -1, 1}} << qint64(1000) << QList<quint32>{800, 200};
    QTest::newRow("leftover of a small flow goes to the rest")
        << QList<Flow>{{100, -1, 1}, {1000, -1, 1}, {1000, -1, 1}} << qint64(1000)
        << QList<quint32>{100, 450, 450};
    QTest::newRow("capped flow frees room")
        << QList<Flow>{{1000, 100, 8}, {1000, -1, 1}} << qint64(600) << QList<quint32>{100, 500};
    QTest::newRow("low priority gets its weight when high is satisfied")
        << QList<Flow>{{300, -1, 8}, {1000, -1, 1}} << qint64(1000) << QList<quint32>{300, 700};
    QTest::newRow("rounding loses nothing") << QList<Flow>{{10, -1, 1}, {10, -1, 1}, {10, -1, 1}}
                                            << qint64(10) << QList<quint32>{4, 3, 3};
    QTest::newRow("nothing wanted") << QList<Flow>{{0, -1, 1}} << qint64(0) << QList<quint32>{0};
}

void TestRateAllocator::allocate()
{
    QFETCH(QList<Flow>, flows);
    QFETCH(qint64, capacity);
    QFETCH(QList<quint32>, expected);
    QCOMPARE(RateAllocator::allocate(flows, capacity), expected);
}

void TestRateAllocator::neverExceedsCapacityOrDemand()
{
    // Awkward numbers that do not divide evenly, many flows, mixed weights.
    QList<Flow> flows;
    for (quint32 i = 0; i < 97; ++i)
        flows.append({1000 + i * 7919 % 50000, i % 5 == 0 ? qint64(3000 + i) : -1, 1u << (i % 4)});
    for (qint64 capacity : {qint64(1), qint64(777), qint64(123457), qint64(2500001)}) {
        const QList<quint32> rates = RateAllocator::allocate(flows, capacity);
        qint64 sum = 0, wanted = 0;
        for (int i = 0; i < flows.size(); ++i) {
            wanted +=
                flows[i].cap >= 0 ? qMin<qint64>(flows[i].wanted, flows[i].cap) : flows[i].wanted;
            QVERIFY(rates[i] <= flows[i].wanted);
            if (flows[i].cap >= 0)
                QVERIFY(rates[i] <= flows[i].cap);
            sum += rates[i];
        }
        QVERIFY2(sum <= capacity, qPrintable(QString::number(sum)));
        // The link is not left idle while someone still wants more.
        QCOMPARE(sum, qMin(capacity, wanted));
    }
}

QTEST_APPLESS_MAIN(TestRateAllocator)
#include "tst_rateallocator.moc"
