#include "unitconvert.h"

#include <QTest>

class TestUnitConvert : public QObject
{
    Q_OBJECT
private slots:
    void toWhole_data();
    void toWhole();
    void toDouble_data();
    void toDouble();
    void fromWhole_data();
    void fromWhole();
    void names_data();
    void names();
    void noLimitPassesEveryUnit();
};

void TestUnitConvert::toWhole_data()
{
    QTest::addColumn<quint32>("bps");
    QTest::addColumn<quint32>("unit");
    QTest::addColumn<quint32>("expected");

    QTest::newRow("MBps truncates") << 15999999u << 0u << 1u;
    QTest::newRow("MBps exact") << 16000000u << 0u << 2u;
    QTest::newRow("Mbps") << 2500000u << 1u << 2u;
    QTest::newRow("KBps") << 1500000u << 2u << 187u;
    QTest::newRow("Kbps") << 12005u << 3u << 12u;
    QTest::newRow("Bps") << 1500000u << 4u << 187500u;
    QTest::newRow("Bps below one") << 7u << 4u << 0u;
    QTest::newRow("bps") << 12345u << 5u << 12345u;
    QTest::newRow("largest finite") << 0xFFFFFFFEu << 4u << 536870911u;
    QTest::newRow("unknown unit") << 1000u << 6u << 0u;
    QTest::newRow("huge unit") << 1000u << 0xFFFFFFF0u << 0u;
}

void TestUnitConvert::toWhole()
{
    QFETCH(quint32, bps);
    QFETCH(quint32, unit);
    QFETCH(quint32, expected);
    QCOMPARE(UnitConvert::BPStoUINT(bps, unit), expected);
}

void TestUnitConvert::toDouble_data()
{
    QTest::addColumn<quint32>("bps");
    QTest::addColumn<quint32>("unit");
    QTest::addColumn<double>("expected");

    QTest::newRow("MBps") << 1000000u << 0u << 0.125;
    QTest::newRow("Mbps") << 1500000u << 1u << 1.5;
    QTest::newRow("KBps") << 1000u << 2u << 0.125;
    QTest::newRow("Kbps") << 12005u << 3u << 12.005;
    QTest::newRow("Bps") << 12u << 4u << 1.5;
    QTest::newRow("bps") << 3u << 5u << 3.0;
    QTest::newRow("unknown unit") << 3u << 7u << 0.0;
}

void TestUnitConvert::toDouble()
{
    QFETCH(quint32, bps);
    QFETCH(quint32, unit);
    QFETCH(double, expected);
    QCOMPARE(UnitConvert::BPStoDouble(bps, unit), expected);
}

void TestUnitConvert::fromWhole_data()
{
    QTest::addColumn<quint32>("value");
    QTest::addColumn<quint32>("unit");
    QTest::addColumn<quint32>("expected");

    QTest::newRow("MBps") << 3u << 0u << 24000000u;
    QTest::newRow("Mbps") << 3u << 1u << 3000000u;
    QTest::newRow("KBps") << 187u << 2u << 1496000u;
    QTest::newRow("Kbps") << 12u << 3u << 12000u;
    QTest::newRow("Bps") << 187500u << 4u << 1500000u;
    QTest::newRow("bps") << 77u << 5u << 77u;
    QTest::newRow("zero stays zero") << 0u << 4u << 0u;
    QTest::newRow("Bps at the edge") << 536870911u << 4u << 4294967288u;
    QTest::newRow("Bps overflow saturates") << 536870912u << 4u << 0xFFFFFFFEu;
    QTest::newRow("MBps overflow saturates") << 600u << 0u << 0xFFFFFFFEu;
    QTest::newRow("just below no limit") << 0xFFFFFFFEu << 4u << 0xFFFFFFFEu;
    QTest::newRow("unknown unit") << 5u << 6u << 0u;
}

void TestUnitConvert::fromWhole()
{
    QFETCH(quint32, value);
    QFETCH(quint32, unit);
    QFETCH(quint32, expected);
    QCOMPARE(UnitConvert::BPSfromUINT(value, unit), expected);
}

void TestUnitConvert::names_data()
{
    QTest::addColumn<quint32>("unit");
    QTest::addColumn<QString>("shortName");
    QTest::addColumn<QString>("fullName");

    QTest::newRow("0") << 0u << "MB"
                       << "Megabytes per second";
    QTest::newRow("1") << 1u << "Mb"
                       << "Megabits per second";
    QTest::newRow("2") << 2u << "KB"
                       << "Kilobytes per second";
    QTest::newRow("3") << 3u << "Kb"
                       << "Kilobits per second";
    QTest::newRow("4") << 4u << "B"
                       << "Bytes per second";
    QTest::newRow("5") << 5u << "b"
                       << "Bits per second";
    QTest::newRow("6") << 6u << QString() << QString();
}

void TestUnitConvert::names()
{
    QFETCH(quint32, unit);
    QFETCH(QString, shortName);
    QFETCH(QString, fullName);
    QString text = QStringLiteral("stale");
    UnitConvert::getString(text, unit);
    QCOMPARE(text, shortName);
    text = QStringLiteral("stale");
    UnitConvert::getFullString(text, unit);
    QCOMPARE(text, fullName);
}

void TestUnitConvert::noLimitPassesEveryUnit()
{
    for (quint32 unit = 0; unit <= UnitConvert::UnitCount; ++unit) {
        QCOMPARE(UnitConvert::BPStoUINT(UnitConvert::NoLimit, unit), UnitConvert::NoLimit);
        QCOMPARE(UnitConvert::BPSfromUINT(UnitConvert::NoLimit, unit), UnitConvert::NoLimit);
        QCOMPARE(UnitConvert::BPStoDouble(UnitConvert::NoLimit, unit), 4294967295.0);
    }
}

QTEST_APPLESS_MAIN(TestUnitConvert)
#include "tst_unitconvert.moc"
