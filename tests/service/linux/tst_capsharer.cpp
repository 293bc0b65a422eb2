#include "capsharer.h"

#include <QTest>

#include <algorithm>

// How devices share one cap, from what each carried and whether it had to
// wait: written as "RATE" or "RATE!" (held back) per device, against a cap
// of 100.
class TestCapSharer : public QObject
{
    Q_OBJECT
private slots:
    void shares_data();
    void shares();
    void settles_data();
    void settles();
};

namespace {

constexpr double Cap = 100;

QList<CapSharer::Use> usesOf(const QString& text)
{
    QList<CapSharer::Use> uses;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        CapSharer::Use use;
        use.held = word.endsWith(QLatin1Char('!'));
        use.rate = QString(word).remove(QLatin1Char('!')).toDouble();
        uses.append(use);
    }
    return uses;
}

QString text(const QList<double>& shares)
{
    QStringList words;
    for (const double share : shares)
        words << QString::number(share, 'f', 3);
    return words.join(QLatin1Char(' '));
}

} // namespace

void TestCapSharer::shares_data()
{
    QTest::addColumn<QString>("uses");
    QTest::addColumn<QString>("expected");
    // clang-format off
    QTest::newRow("one device") << "100!" << "1.000";
    QTest::newRow("busy on one of three: the whole cap everywhere") << "0 100! 1" << "1.000 1.000 1.000";
    QTest::newRow("two held: halves") << "100! 100!" << "0.500 0.500";
    QTest::newRow("three held: thirds") << "60! 30! 10!" << "0.333 0.333 0.333";
    QTest::newRow("one held, one using less: the rest, and what it used with room") << "80! 20" << "0.800 0.250";
    QTest::newRow("two held, one using less") << "45! 45! 10" << "0.450 0.450 0.125";
    QTest::newRow("neither held: what each used, the rest shared") << "30 20" << "0.550 0.450";
    QTest::newRow("neither held, the cap carried: in proportion") << "75 25" << "0.750 0.250";
    QTest::newRow("neither held, twice the cap carried") << "100 100" << "0.500 0.500";
    QTest::newRow("the ones not held carried the cap") << "30! 90 30" << "0.200 0.600 0.200";
    QTest::newRow("idle devices keep a little") << "50! 50! 0 1" << "0.500 0.500 0.050 0.050";
    QTest::newRow("a held device on a little share gets its part") << "95! 5!" << "0.500 0.500";
    QTest::newRow("a trickle counts as busy, with a floor") << "97! 3" << "0.970 0.050";
    QTest::newRow("no devices") << "" << "";
    // clang-format on
}

void TestCapSharer::shares()
{
    QFETCH(QString, uses);
    QFETCH(QString, expected);
    const QList<double> shares = CapSharer::shares(usesOf(uses), Cap);
    QCOMPARE(text(shares), expected);
}

void TestCapSharer::settles_data()
{
    QTest::addColumn<double>("demandA"); // what each device's traffic would take
    QTest::addColumn<double>("demandB");
    QTest::newRow("two greedy flows") << 1000.0 << 1000.0;
    QTest::newRow("a greedy flow and a small one") << 1000.0 << 20.0;
    QTest::newRow("two small flows") << 30.0 << 40.0;
    QTest::newRow("a greedy flow and one that fills its room") << 1000.0 << 60.0;
    QTest::newRow("two flows that each fit under the whole cap") << 90.0 << 90.0;
}

// Periods of traffic that takes what its device's share lets through: the
// sum settles at the cap (or at what the flows want), and stays there.
void TestCapSharer::settles()
{
    QFETCH(double, demandA);
    QFETCH(double, demandB);
    QList<double> shares{1.0, 1.0};
    double sum = 0;
    for (int period = 0; period < 8; ++period) {
        QList<CapSharer::Use> uses;
        sum = 0;
        for (int i = 0; i < 2; ++i) {
            const double demand = i == 0 ? demandA : demandB;
            const double allowed = shares[i] * Cap;
            CapSharer::Use use;
            use.rate = std::min(demand, allowed);
            use.held = demand > allowed;
            sum += use.rate;
            uses.append(use);
        }
        shares = CapSharer::shares(uses, Cap);
    }
    QCOMPARE(sum, std::min(Cap, demandA + demandB));
}

QTEST_GUILESS_MAIN(TestCapSharer)
#include "tst_capsharer.moc"
