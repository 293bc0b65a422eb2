#include "hostsettings.h"
#include "languagecode.h"
#include "unitconvert.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// The host's static services: unit conversions, language codes, stored settings.
class TestHostServices : public QObject
{
    Q_OBJECT
private slots:
    void toUnit_data()
    {
        QTest::addColumn<quint32>("unit");
        QTest::addColumn<quint32>("bps");
        QTest::addColumn<quint32>("whole");
        QTest::addColumn<double>("fraction");
        QTest::addColumn<QString>("shortName");
        QTest::addColumn<QString>("fullName");

        QTest::newRow("MBps") << 0u << 12000000u << 1u << 1.5 << "MB"
                              << "Megabytes per second";
        QTest::newRow("Mbps") << 1u << 2500000u << 2u << 2.5 << "Mb"
                              << "Megabits per second";
        QTest::newRow("KBps") << 2u << 1500000u << 187u << 187.5 << "KB"
                              << "Kilobytes per second";
        QTest::newRow("Kbps") << 3u << 12005u << 12u << 12.005 << "Kb"
                              << "Kilobits per second";
        QTest::newRow("Bps") << 4u << 12u << 1u << 1.5 << "B"
                             << "Bytes per second";
        QTest::newRow("bps") << 5u << 77u << 77u << 77.0 << "b"
                             << "Bits per second";
        QTest::newRow("Bps, largest finite")
            << 4u << 0xFFFFFFFEu << 536870911u << 536870911.75 << "B"
            << "Bytes per second";
        QTest::newRow("unknown unit") << 6u << 1000u << 0u << 0.0 << QString() << QString();
        QTest::newRow("huge unit") << 0xFFFFFFF0u << 1000u << 0u << 0.0 << QString() << QString();
    }
    void toUnit()
    {
        QFETCH(quint32, unit);
        QFETCH(quint32, bps);
        QFETCH(quint32, whole);
        QFETCH(double, fraction);
        QFETCH(QString, shortName);
        QFETCH(QString, fullName);

        QCOMPARE(UnitConvert::BPStoUINT(bps, unit), whole);
        QCOMPARE(UnitConvert::BPStoDouble(bps, unit), fraction);
        QString text = QStringLiteral("stale");
        UnitConvert::getString(text, unit);
        QCOMPARE(text, shortName);
        text = QStringLiteral("stale");
        UnitConvert::getFullString(text, unit);
        QCOMPARE(text, fullName);
        // No limit passes every conversion of every unit unchanged.
        QCOMPARE(UnitConvert::BPStoUINT(UnitConvert::NoLimit, unit), UnitConvert::NoLimit);
        QCOMPARE(UnitConvert::BPSfromUINT(UnitConvert::NoLimit, unit), UnitConvert::NoLimit);
        QCOMPARE(UnitConvert::BPStoDouble(UnitConvert::NoLimit, unit), 4294967295.0);
    }

    void fromUnit_data()
    {
        QTest::addColumn<quint32>("value");
        QTest::addColumn<quint32>("unit");
        QTest::addColumn<quint32>("bps");

        QTest::newRow("MBps") << 3u << 0u << 24000000u;
        QTest::newRow("Mbps") << 3u << 1u << 3000000u;
        QTest::newRow("KBps") << 187u << 2u << 1496000u;
        QTest::newRow("Kbps") << 12u << 3u << 12000u;
        QTest::newRow("Bps") << 187500u << 4u << 1500000u;
        QTest::newRow("bps") << 77u << 5u << 77u;
        QTest::newRow("zero stays zero") << 0u << 4u << 0u;
        QTest::newRow("Bps at the edge") << 268435455u << 4u << 2147483640u;
        QTest::newRow("Bps past a signed limit saturates") << 268435456u << 4u << 0x7FFFFFFFu;
        QTest::newRow("Bps overflow saturates") << 536870912u << 4u << 0x7FFFFFFFu;
        QTest::newRow("MBps overflow saturates") << 600u << 0u << 0x7FFFFFFFu;
        QTest::newRow("unknown unit") << 5u << 6u << 0u;
    }
    void fromUnit()
    {
        QFETCH(quint32, value);
        QFETCH(quint32, unit);
        QFETCH(quint32, bps);
        QCOMPARE(UnitConvert::BPSfromUINT(value, unit), bps);
    }

    void languageCodes_data()
    {
        QTest::addColumn<QLocale::Language>("language");
        QTest::addColumn<QString>("code");
        QTest::newRow("two letters") << QLocale::German << "de";
        QTest::newRow("no two-letter code") << QLocale::Filipino << "fil";
        QTest::newRow("C") << QLocale::C << "en";
        QTest::newRow("any") << QLocale::AnyLanguage << "en";
    }
    void languageCodes()
    {
        QFETCH(QLocale::Language, language);
        QFETCH(QString, code);
        QCOMPARE(QLanguageToISO639(language), code);
    }

    void settingsLiveInTheChosenFolder()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        HostSettings::useSystemScopeFolder(folder.path());
        QScopedPointer<QSettings> settings(HostSettings::create());
        settings->setValue(QStringLiteral("Applications/BarFrameRate"), 25);
        settings->sync();
        QCOMPARE(settings->status(), QSettings::NoError);
        QVERIFY(QFile::exists(settings->fileName()));
        QVERIFY(QDir(folder.path()).relativeFilePath(settings->fileName()).startsWith("Corvid"));
    }
};

QTEST_GUILESS_MAIN(TestHostServices)
#include "tst_hostservices.moc"
