#include "daemonprocess.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

// bwcctl's verbs for people against a live bwcd on a free port.
class TestPeopleVerbs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void appsListsEveryApplication();
    void changesReachTheService_data();
    void changesReachTheService();
    void mistakesAreExplained_data();
    void mistakesAreExplained();
    void statsTotalsAddUp();
    void enableDisableAndGlobals();
    void defaultsAndReset();
    void devices();
    void refusedChangeFails();
    void noServiceTimesOut();

private:
    struct Run
    {
        int code = -1;
        QString out;
        QString err;
    };
    static Run ctl(quint16 port, const QStringList& args, int timeoutMs = 10000);
    Run ctl(const QStringList& args) { return ctl(m_daemon.port(), args); }
    QJsonValue json(const QStringList& args);
    QJsonObject app(const QString& name);

    QTemporaryDir m_dir;
    DaemonProcess m_daemon;
};

TestPeopleVerbs::Run TestPeopleVerbs::ctl(quint16 port, const QStringList& args, int timeoutMs)
{
    QProcess process;
    process.start(
        QStringLiteral(BWCCTL_PATH),
        QStringList{"--port", QString::number(port), "--timeout", QString::number(timeoutMs)} +
            args);
    Run run;
    if (!process.waitForFinished(timeoutMs + 10000))
        return run;
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QJsonValue TestPeopleVerbs::json(const QStringList& args)
{
    const Run run = ctl(QStringList{"--json"} + args);
    if (run.code != 0)
        qWarning("bwcctl %s: %s", qPrintable(args.join(' ')), qPrintable(run.err));
    const QJsonDocument document = QJsonDocument::fromJson(run.out.toUtf8());
    return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
}

QJsonObject TestPeopleVerbs::app(const QString& name)
{
    const QJsonArray apps = json({"apps"}).toArray();
    for (const QJsonValue& value : apps) {
        if (value["name"].toString() == name)
            return value.toObject();
    }
    return {};
}

void TestPeopleVerbs::initTestCase()
{
    QVERIFY(m_daemon.start(m_dir.filePath("state.json"), {"--seed", "1", "--wireless"}));
}

void TestPeopleVerbs::cleanupTestCase()
{
    QCOMPARE(m_daemon.terminate(), 0);
}

void TestPeopleVerbs::appsListsEveryApplication()
{
    const Run run = ctl({"apps"});
    QCOMPARE(run.code, 0);
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 31);
    QVERIFY(lines.first().startsWith("NAME"));
    // Columns line up: every row has its path where the header has PATH.
    const qsizetype pathColumn = lines.first().indexOf("PATH");
    for (const QString& line : lines.mid(1))
        QCOMPARE(line.mid(pathColumn, 3), QStringLiteral("C:\\"));

    const QJsonArray apps = json({"apps"}).toArray();
    QCOMPARE(apps.size(), 30);
    int running = 0;
    for (const QJsonValue& value : apps) {
        QVERIFY(!value["name"].toString().isEmpty());
        QVERIFY(!value["name"].toString().endsWith(".exe"));
        running += value["running"].toBool();
    }
    QVERIFY(running > 0 && running < 30);
}

void TestPeopleVerbs::changesReachTheService_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QJsonValue>("value");
    QTest::newRow("upload 512K") << QStringList{"limit", "calvex music", "up", "512K"}
                                 << "uploadMax" << QJsonValue(64000);
    QTest::newRow("download 1.5Mbps") << QStringList{"limit", "CALVEXMUSIC.EXE", "down", "1.5Mbps"}
                                      << "downloadMax" << QJsonValue(187500);
    QTest::newRow("download 512KB")
        << QStringList{"limit", "calvex", "down", "512KB"} << "downloadMax" << QJsonValue(512000);
    QTest::newRow("no upload limit")
        << QStringList{"limit", "calvex", "upload", "none"} << "uploadMax" << QJsonValue(-1);
    QTest::newRow("block") << QStringList{"block", "calvex"} << "uploadMax" << QJsonValue(0);
    QTest::newRow("blocked both ways")
        << QStringList{"block", "calvex"} << "downloadMax" << QJsonValue(0);
    QTest::newRow("a limit lifts the block")
        << QStringList{"limit", "calvex", "up", "1M"} << "downloadMax" << QJsonValue(-2);
    QTest::newRow("allow") << QStringList{"allow", "calvex"} << "uploadMax" << QJsonValue(-2);
    QTest::newRow("priority 1") << QStringList{"priority", "calvex", "1"} << "highest"
                                << QJsonValue(true);
    QTest::newRow("priority 4") << QStringList{"priority", "calvex", "4"} << "priority"
                                << QJsonValue(3);
    QTest::newRow("4 is not highest")
        << QStringList{"priority", "calvex", "4"} << "highest" << QJsonValue(false);
}

void TestPeopleVerbs::changesReachTheService()
{
    QFETCH(QStringList, args);
    QFETCH(QString, field);
    QFETCH(QJsonValue, value);
    const Run run = ctl(args);
    QVERIFY2(run.code == 0, qPrintable(run.err));
    QVERIFY(run.out.startsWith("Calvex Music: "));
    QCOMPARE(app("Calvex Music").value(field), value);
}

void TestPeopleVerbs::mistakesAreExplained_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown app") << QStringList{"block", "no such thing"}
                                 << "no application matches";
    QTest::newRow("ambiguous app") << QStringList{"block", "browser"} << "ambiguous";
    QTest::newRow("bad rate") << QStringList{"limit", "calvex", "up", "12Q"} << "not a rate";
    QTest::newRow("zero rate") << QStringList{"limit", "calvex", "up", "0"} << "block it";
    QTest::newRow("bad direction")
        << QStringList{"limit", "calvex", "sideways", "1M"} << "direction";
    QTest::newRow("bad priority") << QStringList{"priority", "calvex", "5"} << "priority is";
    QTest::newRow("highest default")
        << QStringList{"defaults", "--priority", "1"} << "default priority";
    QTest::newRow("block and allow") << QStringList{"defaults", "--block", "--allow"} << "--block";
    QTest::newRow("missing argument") << QStringList{"block"} << "usage";
    QTest::newRow("extra argument") << QStringList{"apps", "now"} << "usage";
}

void TestPeopleVerbs::mistakesAreExplained()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const Run run = ctl(args);
    QCOMPARE(run.code, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
}

void TestPeopleVerbs::statsTotalsAddUp()
{
    QVERIFY(ctl({"block", "lumora"}).code == 0);
    const QJsonObject stats = json({"stats"}).toObject();
    const QJsonArray apps = stats["apps"].toArray();
    QVERIFY(!apps.isEmpty());
    qint64 sent = 0, received = 0;
    for (const QJsonValue& line : apps) {
        sent += line["sent"].toInteger();
        received += line["received"].toInteger();
        if (line["name"].toString() == QLatin1String("Lumora Browser"))
            QCOMPARE(line["received"].toInteger(), 0);
    }
    QCOMPARE(stats["total"]["sent"].toInteger(), sent);
    QCOMPARE(stats["total"]["received"].toInteger(), received);
    const Run table = ctl({"stats"});
    QCOMPARE(table.code, 0);
    QVERIFY(table.out.contains(
        QRegularExpression("\\nTOTAL +[0-9.]+ [KMG]?bps +[0-9.]+ [KMG]?bps\\n")));
    QVERIFY(ctl({"allow", "lumora"}).code == 0);
}

void TestPeopleVerbs::enableDisableAndGlobals()
{
    QCOMPARE(ctl({"disable"}).code, 0);
    QCOMPARE(json({"globals"})["enabled"].toBool(), false);
    QCOMPARE(ctl({"enable"}).code, 0);
    QCOMPARE(json({"globals"})["enabled"].toBool(), true);
    const QJsonValue set = json({"globals", "--up", "4M", "--down", "none"});
    QCOMPARE(set["uploadMax"].toInt(), 500000);
    QCOMPARE(set["downloadMax"].toInt(), -1);
    const Run table = ctl({"globals"});
    QVERIFY(table.out.contains(QRegularExpression("upload maximum +4 Mbps")));
}

void TestPeopleVerbs::defaultsAndReset()
{
    QJsonValue defaults = json({"defaults", "--up", "256K", "--priority", "4"});
    QCOMPARE(defaults["uploadMax"].toInt(), 32000);
    QCOMPARE(defaults["priority"].toInt(), 3);
    defaults = json({"defaults", "--block"});
    QCOMPARE(defaults["blocked"].toBool(), true);
    QCOMPARE(defaults["priority"].toInt(), 3);
    defaults = json({"defaults", "--allow"});
    QCOMPARE(defaults["uploadMax"].toInt(), -1);
    QCOMPARE(defaults["downloadMax"].toInt(), -1);

    QVERIFY(ctl({"block", "calvex"}).code == 0);
    QCOMPARE(ctl({"reset"}).code, 0);
    QCOMPARE(app("Calvex Music")["uploadMax"].toInt(), -2);
    QCOMPARE(json({"defaults"})["priority"].toInt(), 2);
}

void TestPeopleVerbs::devices()
{
    const QJsonArray list = json({"devices"}).toArray();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list[0]["deviceId"].toInt(), -254);
    QCOMPARE(list[1]["kind"].toString(), QStringLiteral("wireless"));
    QVERIFY(ctl({"devices"}).out.contains("Simulated Wireless Adapter"));
}

void TestPeopleVerbs::refusedChangeFails()
{
    // A service that cannot write its state refuses every change.
    QTemporaryDir dir;
    QFile blocker(dir.filePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    DaemonProcess stuck;
    QVERIFY(stuck.start(dir.filePath("file/state.json")));
    const Run run = ctl(stuck.port(), {"disable"});
    QCOMPARE(run.code, 1);
    QVERIFY2(run.err.contains("refused BWCStop (BCS_WRITE_FAILED)"), qPrintable(run.err));
    QCOMPARE(stuck.terminate(), 0);
}

void TestPeopleVerbs::noServiceTimesOut()
{
    const Run run = ctl(DaemonProcess::freePort(), {"apps"}, 1000);
    QCOMPARE(run.code, 3);
    QVERIFY(run.err.contains("is bwcd running?"));
}

QTEST_GUILESS_MAIN(TestPeopleVerbs)
#include "tst_peopleverbs.moc"
