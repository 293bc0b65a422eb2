// The per-application accounting on a clock the test moves: rates of each
// interval, totals, the final interval of an application that ended, local
// traffic apart from the network's.

#include "appaccounting.h"

#include <QTest>

namespace {

const QString App = QStringLiteral("app");

// One thing that happens to the application, in order.
struct Step
{
    enum Kind
    {
        Run,
        End,
        Bytes, // sent, received, local sent, local received
        Close, // the interval ends at `at`
    } kind;
    qint64 at = 0;
    AppAccounting::Bytes bytes;
};

Step run()
{
    return {Step::Run, 0, {}};
}
Step end()
{
    return {Step::End, 0, {}};
}
Step bytes(quint64 sent, quint64 received, quint64 localSent = 0, quint64 localReceived = 0)
{
    return {Step::Bytes, 0, {sent, received, localSent, localReceived}};
}
Step closeAt(qint64 at)
{
    return {Step::Close, at, {}};
}

// What a client saw after one close(): the rates when the application was
// reported, and whether that close said it is over.
struct Sample
{
    bool reported = false;
    quint32 sent = 0;
    quint32 received = 0;
    bool over = false;
    bool operator==(const Sample& o) const
    {
        return reported == o.reported && sent == o.sent && received == o.received && over == o.over;
    }
};

Sample shown(quint32 sent, quint32 received)
{
    return {true, sent, received, false};
}
Sample overNow()
{
    return {false, 0, 0, true};
}
Sample absent()
{
    return {};
}

} // namespace

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(Sample)

namespace QTest {
template <> char* toString(const Sample& s)
{
    return qstrdup(QStringLiteral("{reported %1, %2/%3, over %4}")
                       .arg(s.reported)
                       .arg(s.sent)
                       .arg(s.received)
                       .arg(s.over)
                       .toLatin1()
                       .constData());
}
} // namespace QTest

class tst_AppAccounting : public QObject
{
    Q_OBJECT
private slots:
    void intervals_data();
    void intervals();
    void localApart();
    void resetKeepsTotalsSinceStart();
    void forgetWaitsForTheFinalInterval();
};

void tst_AppAccounting::intervals_data()
{
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<QList<Sample>>("samples"); // one per close
    QTest::addColumn<quint64>("totalSent");
    QTest::addColumn<quint64>("sampledSent"); // the rates times their intervals

    QTest::newRow("steady") << QList<Step>{run(), bytes(1000, 10), closeAt(1000), bytes(2000, 20),
                                           closeAt(2000)}
                            << QList<Sample>{shown(1000, 10), shown(2000, 20)} << quint64(3000)
                            << quint64(3000);
    QTest::newRow("uneven intervals give per-second rates")
        << QList<Step>{run(), bytes(1000, 0), closeAt(500), bytes(3000, 0), closeAt(2000)}
        << QList<Sample>{shown(2000, 0), shown(2000, 0)} << quint64(4000) << quint64(4000);
    QTest::newRow("the interval it ended in is reported once more, then over")
        << QList<Step>{run(), bytes(1000, 0), closeAt(1000), bytes(500, 50),
                       end(), closeAt(2000),  closeAt(3000), closeAt(4000)}
        << QList<Sample>{shown(1000, 0), shown(500, 50), overNow(), absent()} << quint64(1500)
        << quint64(1500);
    QTest::newRow("lived less than one interval: one rate with all its bytes")
        << QList<Step>{run(), bytes(7000, 700), end(), closeAt(1000), closeAt(2000)}
        << QList<Sample>{shown(7000, 700), overNow()} << quint64(7000) << quint64(7000);
    QTest::newRow("reported while its counters still move after the end")
        << QList<Step>{run(),        bytes(100, 0), end(),        closeAt(1000),
                       bytes(40, 0), closeAt(2000), closeAt(3000)}
        << QList<Sample>{shown(100, 0), shown(40, 0), overNow()} << quint64(140) << quint64(140);
    QTest::newRow("ended without a byte: over at the next close")
        << QList<Step>{run(), end(), closeAt(1000), closeAt(2000)}
        << QList<Sample>{overNow(), absent()} << quint64(0) << quint64(0);
    QTest::newRow("started again before its final interval closed")
        << QList<Step>{run(), bytes(100, 0), end(), run(), closeAt(1000), closeAt(2000)}
        << QList<Sample>{shown(100, 0), shown(0, 0)} << quint64(100) << quint64(100);
    QTest::newRow("local only traffic keeps it reported after the end")
        << QList<Step>{run(), end(), bytes(0, 0, 64, 64), closeAt(1000), closeAt(2000)}
        << QList<Sample>{shown(0, 0), overNow()} << quint64(0) << quint64(0);
    QTest::newRow("never ran: bytes go to the totals only")
        << QList<Step>{bytes(300, 0), closeAt(1000)} << QList<Sample>{absent()} << quint64(300)
        << quint64(0);
}

// The rates a client sees close by close, and that the rates times the
// intervals they are of add up to the totals.
void tst_AppAccounting::intervals()
{
    QFETCH(QList<Step>, steps);
    QFETCH(QList<Sample>, samples);
    QFETCH(quint64, totalSent);
    QFETCH(quint64, sampledSent);
    AppAccounting accounting;
    accounting.begin(0);
    QList<Sample> seen;
    quint64 sampled = 0;
    for (const Step& step : steps) {
        switch (step.kind) {
        case Step::Run:
            accounting.setRunning(App, true);
            break;
        case Step::End:
            accounting.setRunning(App, false);
            break;
        case Step::Bytes:
            accounting.add(App, step.bytes);
            break;
        case Step::Close: {
            const bool over = accounting.close(step.at).contains(App);
            const AppAccounting::Rates rates = accounting.rates(App);
            const bool reported = accounting.isReported(App);
            QVERIFY(reported || (rates.sent == 0 && rates.received == 0));
            seen.append({reported, rates.sent, rates.received, over});
            sampled += quint64(rates.sent) * quint64(accounting.intervalMs()) / 1000;
            break;
        }
        }
    }
    QCOMPARE(seen, samples);
    QCOMPARE(accounting.total(App).sent, totalSent);
    QCOMPARE(sampled, sampledSent);
}

void tst_AppAccounting::localApart()
{
    AppAccounting accounting;
    accounting.begin(1000);
    accounting.setRunning(App, true);
    accounting.add(App, {10, 20, 3000, 4000});
    accounting.add(App, {1, 2, 3, 4});
    accounting.close(2000);
    const AppAccounting::Rates rates = accounting.rates(App);
    QCOMPARE(rates.sent, 11u);
    QCOMPARE(rates.received, 22u);
    QCOMPARE(rates.localSent, 3003u);
    QCOMPARE(rates.localReceived, 4004u);
    QCOMPARE(accounting.total(App), (AppAccounting::Bytes{11, 22, 3003, 4004}));
}

void tst_AppAccounting::resetKeepsTotalsSinceStart()
{
    AppAccounting accounting;
    accounting.begin(0);
    accounting.setRunning(App, true);
    accounting.add(App, {100, 200, 1, 2});
    accounting.close(1000);
    accounting.add(App, {5, 0, 0, 0}); // not yet closed: counted after the reset
    accounting.resetTotals();
    accounting.close(2000);
    accounting.add(App, {10, 20, 0, 3});
    accounting.close(3000);
    QCOMPARE(accounting.total(App), (AppAccounting::Bytes{115, 220, 1, 5}));
    QCOMPARE(accounting.sinceReset(App), (AppAccounting::Bytes{15, 20, 0, 3}));
    QCOMPARE(accounting.sinceReset(QStringLiteral("unknown")), AppAccounting::Bytes());
}

void tst_AppAccounting::forgetWaitsForTheFinalInterval()
{
    AppAccounting accounting;
    accounting.begin(0);
    accounting.setRunning(App, true);
    accounting.add(App, {100, 0, 0, 0});
    accounting.setRunning(App, false);
    QVERIFY(!accounting.forget(App));
    accounting.close(1000);
    QVERIFY(!accounting.forget(App));
    QCOMPARE(accounting.close(2000), QStringList{App});
    QVERIFY(accounting.forget(App));
    QCOMPARE(accounting.total(App), AppAccounting::Bytes());
    // The machine still moved what it moved.
    QCOMPARE(accounting.machineTotal(), (AppAccounting::Bytes{100, 0, 0, 0}));
}

QTEST_APPLESS_MAIN(tst_AppAccounting)
#include "tst_appaccounting.moc"
