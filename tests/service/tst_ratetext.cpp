#include "ratetext.h"
#include "texttable.h"

#include <QTest>
#include <QTextStream>

class TestRateText : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void rejects_data();
    void rejects();
    void format_data();
    void format();
    void tableAlignsColumns();
};

void TestRateText::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("bytes");
    QTest::newRow("none") << "none" << -1;
    QTest::newRow("NONE") << "NONE" << -1;
    QTest::newRow("bare bits") << "64000" << 8000;
    QTest::newRow("bps") << "64000bps" << 8000;
    QTest::newRow("Bps") << "8000Bps" << 8000;
    QTest::newRow("B") << "8000B" << 8000;
    QTest::newRow("K is kilobits") << "512K" << 64000;
    QTest::newRow("k too") << "512k" << 64000;
    QTest::newRow("Kbps") << "512Kbps" << 64000;
    QTest::newRow("KB is kilobytes") << "512KB" << 512000;
    QTest::newRow("KBps") << "512KBps" << 512000;
    QTest::newRow("fraction") << "1.5Mbps" << 187500;
    QTest::newRow("spaced") << " 1.5 M " << 187500;
    QTest::newRow("G") << "1G" << 125000000;
    QTest::newRow("one byte") << "8" << 1;
    QTest::newRow("rounds down") << "15" << 1;
    QTest::newRow("largest") << "17179869176" << 2147483647;
}

void TestRateText::parse()
{
    QFETCH(QString, text);
    QFETCH(qint32, bytes);
    qint32 out = 12345;
    QString error;
    QVERIFY2(RateText::parse(text, &out, &error), qPrintable(error));
    QCOMPARE(out, bytes);
}

void TestRateText::rejects_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reason");
    QTest::newRow("empty") << ""
                           << "not a rate";
    QTest::newRow("unit only") << "K"
                               << "not a rate";
    QTest::newRow("negative") << "-5K"
                              << "not a rate";
    QTest::newRow("unknown unit") << "12Q"
                                  << "not a rate";
    QTest::newRow("ps without b") << "12Kps"
                                  << "not a rate";
    QTest::newRow("two numbers") << "1 2"
                                 << "not a rate";
    QTest::newRow("zero") << "0"
                          << "block it";
    QTest::newRow("under a byte") << "7bps"
                                  << "block it";
    QTest::newRow("too large") << "20G"
                               << "more than";
}

void TestRateText::rejects()
{
    QFETCH(QString, text);
    QFETCH(QString, reason);
    qint32 out = 12345;
    QString error;
    QVERIFY(!RateText::parse(text, &out, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(out, 12345);
}

void TestRateText::format_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "0 bps";
    QTest::newRow("bits") << qint64(100) << "800 bps";
    QTest::newRow("kilo") << qint64(64000) << "512 Kbps";
    QTest::newRow("mega fraction") << qint64(187500) << "1.5 Mbps";
    QTest::newRow("three digits") << qint64(3086419) << "24.7 Mbps";
    QTest::newRow("giga") << qint64(125000000) << "1 Gbps";
    QTest::newRow("round trip of 512K") << qint64(64000) << "512 Kbps";
}

void TestRateText::format()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(RateText::format(bytes), text);
    QCOMPARE(RateText::formatLimit(-1), QStringLiteral("none"));
    QCOMPARE(RateText::formatLimit(-2), QStringLiteral("default"));
    QCOMPARE(RateText::formatLimit(0), QStringLiteral("blocked"));
}

void TestRateText::tableAlignsColumns()
{
    TextTable table({"NAME", "RATE", "NOTE"});
    table.alignRight(1);
    table.addRow({"a", "1 bps", "x"});
    table.addRow({"longer name", "512 Kbps", ""});
    QString text;
    QTextStream stream(&text);
    table.print(stream);
    QCOMPARE(text, QStringLiteral("NAME             RATE  NOTE\n"
                                  "a               1 bps  x\n"
                                  "longer name  512 Kbps\n"));
}

QTEST_APPLESS_MAIN(TestRateText)
#include "tst_ratetext.moc"
