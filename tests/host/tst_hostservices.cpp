#include "hostsettings.h"
#include "languagecode.h"
#include "translatesuitename.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestHostServices : public QObject
{
    Q_OBJECT
private slots:
    void languageCodes_data();
    void languageCodes();
    void settingsLiveInTheChosenFolder();
};

void TestHostServices::languageCodes_data()
{
    QTest::addColumn<QLocale::Language>("language");
    QTest::addColumn<QString>("code");
    QTest::newRow("English") << QLocale::English << "en";
    QTest::newRow("German") << QLocale::German << "de";
    QTest::newRow("French") << QLocale::French << "fr";
    QTest::newRow("Japanese") << QLocale::Japanese << "ja";
    QTest::newRow("Chinese") << QLocale::Chinese << "zh";
    QTest::newRow("Portuguese") << QLocale::Portuguese << "pt";
    QTest::newRow("no two-letter code") << QLocale::Filipino << "fil";
    QTest::newRow("C") << QLocale::C << "en";
    QTest::newRow("any") << QLocale::AnyLanguage << "en";
}

void TestHostServices::languageCodes()
{
    QFETCH(QLocale::Language, language);
    QFETCH(QString, code);
    QCOMPARE(QLanguageToISO639(language), code);
}

void TestHostServices::settingsLiveInTheChosenFolder()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    HostSettings::useSystemScopeFolder(folder.path());
    {
        QScopedPointer<QSettings> settings(HostSettings::create());
        QCOMPARE(settings->format(), QSettings::IniFormat);
        QCOMPARE(settings->scope(), QSettings::SystemScope);
        QCOMPARE(settings->organizationName(), QStringLiteral("Corvid Networks"));
        QCOMPARE(settings->applicationName(), TranslateSuiteName::GetSuiteNameShort());
        settings->setValue(QStringLiteral("Applications/BarFrameRate"), 25);
        settings->sync();
        QCOMPARE(settings->status(), QSettings::NoError);
        QVERIFY(QFileInfo(settings->fileName())
                    .absoluteFilePath()
                    .startsWith(QDir(folder.path()).absolutePath()));
        QVERIFY(QFileInfo::exists(settings->fileName()));
    }
    QScopedPointer<QSettings> again(HostSettings::create());
    QCOMPARE(again->value(QStringLiteral("Applications/BarFrameRate")).toUInt(), 25u);
}

QTEST_GUILESS_MAIN(TestHostServices)
#include "tst_hostservices.moc"
