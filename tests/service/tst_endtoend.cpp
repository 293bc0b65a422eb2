#include "commands.h"
#include "daemonprocess.h"
#include "programrun.h"
#include "ratetext.h"
#include "serviceclient.h"
#include "servicestate.h"
#include "statefile.h"

#include <QDir>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

namespace {

QJsonValue json(quint16 port, const QStringList& args)
{
    const QJsonDocument document = QJsonDocument::fromJson(
        ProgramRun::bwcctl(port, QStringList{"--json"} + args).out.toUtf8());
    return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
}

QJsonObject calvex(quint16 port)
{
    for (const QJsonValue& value : json(port, {"apps"}).toArray()) {
        if (value["name"] == "Calvex Music")
            return value.toObject();
    }
    return {};
}

ServiceState loaded(const QString& path) // the factory state unless the file loads
{
    ServiceState state;
    QString message;
    StateFile(path).load(&state, &message);
    return state;
}

} // namespace

// bwcd on a free port, driven by bwcctl's verbs for people or by a plain client.
class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void rates_data();
    void rates();
    void byteTexts_data();
    void byteTexts();
    void appsAndDevices();
    void changesReachTheService_data();
    void changesReachTheService();
    void failuresAreExplained_data();
    void failuresAreExplained();
    void statsTable();
    void settingsSurviveRestart();
    void corruptState_data();
    void corruptState();
    void acknowledgedChangesSurviveSigkill();
    void outOfDescriptors();
    void pipelinedRequestsReadLate();

private:
    QTemporaryDir m_dir;
    DaemonProcess m_daemon, m_stuck;
};

void TestEndToEnd::initTestCase()
{
    QVERIFY(m_daemon.start(m_dir.filePath("state.json"), {"--seed", "1", "--wireless"}));
    // This one cannot write its state (no folder in a file), so it refuses every change.
    QVERIFY(m_stuck.start("/dev/null/state.json"));
}

void TestEndToEnd::cleanupTestCase()
{
    QCOMPARE(m_daemon.terminate(), 0);
    QCOMPARE(m_stuck.terminate(), 0);
}

void TestEndToEnd::rates_data()
{
    // What people type, what the service gets (bytes/s; -3: refused), and how
    // the service's number is shown back, or why the text was refused.
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("none") << "NONE" << -1 << "none";
    QTest::newRow("bare bits") << "64000" << 8000 << "64 Kbps";
    QTest::newRow("K is kilobits") << "512k" << 64000 << "512 Kbps";
    QTest::newRow("KB is kilobytes") << "512KB" << 512000 << "4.1 Mbps";
    QTest::newRow("KBps") << "512KBps" << 512000 << "4.1 Mbps";
    QTest::newRow("spaced fraction") << " 1.5 M " << 187500 << "1.5 Mbps";
    QTest::newRow("three digits at most") << "24.69M" << 3086250 << "24.7 Mbps";
    QTest::newRow("G") << "1G" << 125000000 << "1 Gbps";
    QTest::newRow("rounds down") << "15" << 1 << "8 bps";
    QTest::newRow("largest") << "17179869176" << 2147483647 << "17.2 Gbps";
    QTest::newRow("tc's mbit") << "2mbit" << 250000 << "2 Mbps";
    QTest::newRow("any case, per second") << "2MBIT/s" << 250000 << "2 Mbps";
    QTest::newRow("iperf3's Mbits/sec") << "10Mbits/sec" << 1250000 << "10 Mbps";
    QTest::newRow("bytes spelled out") << "2MByte/s" << 2000000 << "16 Mbps";
    QTest::newRow("B per second") << "64KB/s" << 64000 << "512 Kbps";
    QTest::newRow("binary prefix") << "512kibit" << 65536 << "524 Kbps";
    QTest::newRow("binary bytes") << "1KiB" << 1024 << "8.19 Kbps";
    QTest::newRow("i without a prefix") << "2i" << -3 << "not a rate";
    QTest::newRow("unknown unit") << "12Q" << -3 << "not a rate";
    QTest::newRow("ps without b") << "12Kps" << -3 << "not a rate";
    QTest::newRow("zero") << "0" << -3 << "block it";
    QTest::newRow("under a byte") << "7bps" << -3 << "block it";
    QTest::newRow("too large") << "17179869184" << -3 << "more than";
}

void TestEndToEnd::rates()
{
    QFETCH(QString, text);
    QFETCH(qint32, bytes);
    QFETCH(QString, shown);
    qint32 out = -3;
    QString error;
    QCOMPARE(RateText::parse(text, &out, &error), bytes != -3);
    QCOMPARE(out, bytes);
    const QString said = bytes == -3 ? error : RateText::formatLimit(bytes);
    QVERIFY2(said.contains(shown), qPrintable(said));
}

void TestEndToEnd::byteTexts_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("nothing") << quint64(0) << "0 B";
    QTest::newRow("under a kilobyte") << quint64(999) << "999 B";
    QTest::newRow("kilobytes, decimal") << quint64(1500) << "1.5 kB";
    QTest::newRow("three digits at most") << quint64(123456789) << "123 MB";
    QTest::newRow("terabytes") << quint64(4200000000000) << "4.2 TB";
    QTest::newRow("beyond 32 bits") << quint64(5000000000) << "5 GB";
}

void TestEndToEnd::byteTexts()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, shown);
    QCOMPARE(RateText::formatBytes(bytes), shown);
}

void TestEndToEnd::appsAndDevices()
{
    const ProgramRun run = ProgramRun::bwcctl(m_daemon.port(), {"apps"});
    QCOMPARE(run.code, 0);
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 31); // a header, then one line each
    // Columns line up: every row has its path where the header has PATH.
    const qsizetype pathColumn = lines.first().indexOf("PATH");
    for (const QString& line : lines.mid(1))
        QCOMPARE(line.mid(pathColumn, 3), QStringLiteral("C:\\"));
    const QJsonArray apps = json(m_daemon.port(), {"apps"}).toArray();
    QCOMPARE(apps.size(), 30);
    int running = 0;
    for (const QJsonValue& value : apps) {
        QVERIFY(!value["name"].toString().isEmpty() && !value["name"].toString().endsWith(".exe"));
        running += value["running"].toBool();
    }
    QVERIFY(running > 0 && running < 30);

    const QJsonArray list = json(m_daemon.port(), {"devices"}).toArray();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list[0]["deviceId"].toInt(), -254);
    QCOMPARE(list[1]["kind"].toString(), QStringLiteral("wireless"));
    QVERIFY(ProgramRun::bwcctl(m_daemon.port(), {"devices"})
                .out.contains("Simulated Wireless Adapter"));
}

void TestEndToEnd::changesReachTheService_data()
{
    // One verb (its output matches text), then a --json read ("app": Calvex Music).
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QJsonObject>("expected");
    const auto row = [](const char* name, const QStringList& args, const char* text,
                        const char* query, const QJsonObject& expected) {
        QTest::newRow(name) << args << QString(text) << QString(query) << expected;
    };
    row("upload 512K", {"limit", "calvex music", "upload", "512K"}, "Calvex Music: ", "app",
        {{"uploadMax", 64000}});
    row("download 1.5Mbps", {"limit", "CALVEXMUSIC.EXE", "down", "1.5Mbps"},
        "Calvex Music: ", "app", {{"downloadMax", 187500}});
    row("block", {"block", "calvex"}, "Calvex Music: blocked", "app",
        {{"uploadMax", 0}, {"downloadMax", 0}});
    row("a limit lifts the block", {"limit", "calvex", "up", "1M"}, "Calvex Music: ", "app",
        {{"uploadMax", 125000}, {"downloadMax", -2}});
    row("allow", {"allow", "calvex"}, "Calvex Music: ", "app",
        {{"uploadMax", -2}, {"downloadMax", -2}});
    row("priority 1", {"priority", "calvex", "1"}, "1 - Highest", "app",
        {{"priority", 1}, {"highest", true}});
    row("priority 4", {"priority", "calvex", "4"}, "4 - Low", "app",
        {{"priority", 3}, {"highest", false}});
    row("disable", {"disable"}, "is off", "globals", {{"enabled", false}});
    row("enable", {"enable"}, "is on", "globals", {{"enabled", true}});
    row("globals", {"globals", "--up", "4M", "--down", "none"}, "upload maximum +4 Mbps", "globals",
        {{"uploadMax", 500000}, {"downloadMax", -1}});
    row("defaults", {"defaults", "--up", "256K", "--priority", "4"}, "256 Kbps", "defaults",
        {{"uploadMax", 32000}, {"priority", 3}});
    row("block by default", {"defaults", "--block"}, "upload limit +blocked", "defaults",
        {{"blocked", true}, {"priority", 3}});
    row("allow by default", {"defaults", "--allow"}, "none", "defaults",
        {{"uploadMax", -1}, {"downloadMax", -1}});
    row("reset", {"reset"}, "factory", "app", {{"priority", -2}, {"uploadMax", -2}});
}

void TestEndToEnd::changesReachTheService()
{
    QFETCH(QStringList, args);
    QFETCH(QString, text);
    QFETCH(QString, query);
    QFETCH(QJsonObject, expected);
    const ProgramRun run = ProgramRun::bwcctl(m_daemon.port(), args);
    QVERIFY2(run.code == 0 && run.out.contains(QRegularExpression(text)),
             qPrintable(run.out + run.err));
    const QJsonObject got =
        query == "app" ? calvex(m_daemon.port()) : json(m_daemon.port(), {query}).toObject();
    for (auto it = expected.begin(); it != expected.end(); ++it)
        QCOMPARE(got.value(it.key()), it.value());
}

void TestEndToEnd::failuresAreExplained_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("service"); // 0: ours, 1: one that cannot write, 2: none, 3: bwcd
    const auto row = [](const char* name, const QStringList& args, const char* message,
                        int code = 2, int service = 0) {
        QTest::newRow(name) << args << QString(message) << code << service;
    };
    row("unknown app", {"block", "no such"}, "no application matches");
    row("ambiguous app", {"block", "browser"}, "ambiguous");
    row("bad rate", {"limit", "calvex", "up", "12Q"}, "not a rate");
    row("bad direction", {"limit", "calvex", "sideways", "1M"}, "direction");
    row("bad priority", {"priority", "calvex", "5"}, "priority is");
    row("highest default", {"defaults", "--priority", "1"}, "default priority");
    row("block and allow", {"defaults", "--block", "--allow"}, "--block");
    row("missing argument", {"block"}, "usage");
    row("extra argument", {"apps", "now"}, "usage");
    row("refused", {"disable"}, "refused BWCStop (BCS_WRITE_FAILED)", 1, 1);
    row("no service", {"apps"}, "is bwcd running?", 3, 2);
    row("bwcd: port too big", {"--port", "70000"}, "--port", 2, 3);
    row("bwcd: unknown option", {"--frobnicate"}, "frobnicate", 2, 3);
}

void TestEndToEnd::failuresAreExplained()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QFETCH(int, code);
    QFETCH(int, service);
    const quint16 ports[] = {m_daemon.port(), m_stuck.port(), DaemonProcess::freePort()};
    const ProgramRun run =
        service == 3 ? ProgramRun::of(DaemonProcess::program(), args)
                     : ProgramRun::bwcctl(ports[service], args, service == 2 ? 1000 : 10000);
    QCOMPARE(run.code, code);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
}

// The totals are the service's own (checked with its rules); here the verb
// names each line and prints the table.
void TestEndToEnd::statsTable()
{
    QCOMPARE(ProgramRun::bwcctl(m_daemon.port(), {"block", "lumora"}).code, 0);
    const QJsonObject stats = json(m_daemon.port(), {"stats"}).toObject();
    bool blockedListed = false;
    for (const QJsonValue& line : stats["apps"].toArray()) {
        if (line["name"] == "Lumora Browser")
            blockedListed = line["received"].toInteger() == 0;
    }
    QVERIFY(blockedListed && stats["total"]["received"].toInteger() > 0);
    // The machine's totals are its applications' totals.
    qint64 sent = 0, received = 0;
    for (const QJsonValue& line : stats["apps"].toArray()) {
        sent += line["sentTotal"].toInteger();
        received += line["receivedTotal"].toInteger();
    }
    QCOMPARE(stats["total"]["sentTotal"].toInteger(), sent);
    QCOMPARE(stats["total"]["receivedTotal"].toInteger(), received);
    // A reset starts the totals since reset again; those since the start stay.
    QCOMPARE(ProgramRun::bwcctl(m_daemon.port(), {"reset-totals"}).code, 0);
    const QJsonObject after = json(m_daemon.port(), {"stats"}).toObject();
    qint64 sinceReset = 0, sentAfter = 0;
    for (const QJsonValue& line : after["apps"].toArray()) {
        sinceReset += line["sentSinceReset"].toInteger();
        sentAfter += line["sentTotal"].toInteger();
    }
    QVERIFY(sentAfter >= sent);
    QVERIFY(sinceReset <= sentAfter - sent); // what came after the reset at most
    const ProgramRun table = ProgramRun::bwcctl(m_daemon.port(), {"stats"});
    QVERIFY2(table.code == 0 &&
                 table.out.contains(QRegularExpression("\\nTOTAL +[0-9.]+ [KMG]?bps +[0-9.]+ "
                                                       "[KMG]?bps +[0-9.]+ [kMGT]?B +[0-9.]+ "
                                                       "[kMGT]?B *\\n")),
             qPrintable(table.out));
}

void TestEndToEnd::settingsSurviveRestart()
{
    const QString path = m_dir.filePath("restart.json");
    {
        DaemonProcess daemon;
        QVERIFY(daemon.start(path, {"--seed", "1"}));
        // A second daemon on the same port says why it cannot run.
        const ProgramRun second = ProgramRun::of(
            DaemonProcess::program(), {"--port", QString::number(daemon.port()), "--state", path});
        QVERIFY(second.code == 1 && second.err.contains("cannot listen"));
        for (const QStringList& args : {QStringList{"block", "calvex"},
                                        {"priority", "calvex", "4"},
                                        {"defaults", "--up", "5000B", "--priority", "2"},
                                        {"globals", "--down", "2M"},
                                        {"disable"}})
            QCOMPARE(ProgramRun::bwcctl(daemon.port(), args).code, 0);
        QCOMPARE(daemon.terminate(SIGINT), 0); // as cleanly as on SIGTERM
    }
    // A save cut short by a kill left its temporary file; the next start sweeps it away.
    QFile leftover(path + ".Ab12Cd");
    QVERIFY(leftover.open(QIODevice::WriteOnly) && leftover.write("{") == 1);
    leftover.close();
    DaemonProcess daemon;
    QVERIFY(daemon.start(path, {"--seed", "1"}));
    QVERIFY(!leftover.exists());
    QCOMPARE(json(daemon.port(), {"globals"}).toObject(),
             QJsonObject({{"enabled", false}, {"uploadMax", 1250000}, {"downloadMax", 250000}}));
    const QJsonValue defaults = json(daemon.port(), {"defaults"});
    QVERIFY(defaults["uploadMax"] == 5000 && defaults["priority"] == 1);
    const QJsonObject app = calvex(daemon.port());
    QVERIFY(app["uploadMax"] == 0 && app["downloadMax"] == 0 && app["priority"] == 3);
    QCOMPARE(daemon.terminate(), 0);
}

void TestEndToEnd::corruptState_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("moved aside") << "state.json";
    // No name is left for the copy: the file stays, and bwcd refuses to start.
    QTest::newRow("cannot be moved aside") << QString(240, 's');
}

void TestEndToEnd::corruptState()
{
    QFETCH(QString, name);
    const bool movable = name.size() < 240;
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    const QByteArray corrupt("{\"version\": 1, \"enabled\": tr");
    for (int round = 1; round <= (movable ? 2 : 1); ++round) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(corrupt) == corrupt.size());
        file.close();
        DaemonProcess daemon;
        QCOMPARE(daemon.start(path), movable);
        const QString err = daemon.errorOutput();
        QVERIFY2(err.contains("corrupt") && err.contains(movable ? "moved it aside" : "refusing"),
                 qPrintable(err));
        // Moved aside whole, under a name of its own (newest last), or left as it was.
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);
        QCOMPARE(files.size(), round);
        QCOMPARE(files.last().startsWith(name + ".corrupt-"), movable);
        QVERIFY(err.contains(files.last()));
        QFile kept(dir.filePath(files.last()));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), corrupt);
        QCOMPARE(daemon.terminate(), movable ? 0 : 1);
    }
    if (!movable)
        return;
    // It runs from the factory state, saves the next change and announces it.
    DaemonProcess daemon;
    QVERIFY(daemon.start(path));
    ServiceClient client;
    QVERIFY(client.connectTo(daemon.port()));
    QVERIFY(client.ask(new BCI_BWCGetGlobals)->enabled());
    QCOMPARE(client.ask(new BCI_BWCStop)->GetStatus(), int(BCS_SUCCESS));
    QVERIFY(!client.ask(new BCI_BWCGetGlobals)->enabled());
    QVERIFY(!client.broadcasts.isEmpty());
    QVERIFY(command_cast<BCI_BWCGlobalsChanged>(client.broadcasts.first()));
    QVERIFY(!loaded(path).enabled);
    QCOMPARE(daemon.terminate(), 0);
}

void TestEndToEnd::acknowledgedChangesSurviveSigkill()
{
    const QString path = m_dir.filePath("sigkill.json");
    DaemonProcess daemon;
    QVERIFY(daemon.start(path));
    ServiceClient client;
    QVERIFY(client.connectTo(daemon.port()));
    const QList<BWCEntryPtr> apps = client.ask(new BCI_BWCEnumApps)->apps();
    // Changes to ever larger limits, written back to back; it dies amid them.
    constexpr int Burst = 1000;
    QList<quint32> sequences;
    for (int i = 0; i < Burst; ++i) {
        auto* set = new BCI_BWCSetAppSettings;
        set->setEntry(BWCEntryPtr(new BWCEntry));
        set->entry()->id = apps[i % apps.size()]->id;
        set->entry()->uploadMax = 1000 + i;
        set->entry()->priority = 1 + i % 3;
        sequences << client.send(BaseCommandPtr(set));
    }
    QHash<QString, int> acknowledged; // id -> largest acknowledged limit
    for (int i = 0; i < Burst / 4; ++i) {
        const BaseCommandPtr reply = client.waitReply(sequences[i]);
        QVERIFY2(reply && reply->GetStatus() == BCS_SUCCESS, qPrintable(QString::number(i)));
        acknowledged.insert(apps[i % apps.size()]->id, 1000 + i);
    }
    daemon.terminate(SIGKILL);

    // Later, unacknowledged changes may have landed as well, never fewer.
    const ServiceState state = loaded(path);
    for (auto it = acknowledged.cbegin(); it != acknowledged.cend(); ++it)
        QVERIFY2(state.settingsFor(it.key()).uploadMax >= it.value(), qPrintable(it.key()));
    // The restarted service loads and serves the same state.
    DaemonProcess again;
    QVERIFY(again.start(path));
    QVERIFY(!again.errorOutput().contains("corrupt"));
    ServiceClient second;
    QVERIFY(second.connectTo(again.port()));
    for (const BWCEntryPtr& entry : second.ask(new BCI_BWCEnumApps)->apps())
        QCOMPARE(entry->uploadMax, state.settingsFor(entry->id).uploadMax);
    QCOMPARE(again.terminate(), 0);
}

void TestEndToEnd::outOfDescriptors()
{
    DaemonProcess daemon;
    daemon.descriptorLimit = 64;
    QVERIFY(daemon.start(m_dir.filePath("descriptors.json")));
    ServiceClient served;
    QVERIFY(served.connectTo(daemon.port()));
    // More idle connections than it has descriptors for.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 80; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, daemon.port());
    }
    QTRY_VERIFY_WITH_TIMEOUT(daemon.errorOutput().contains("cannot accept connections"), 10000);
    // It waits rather than spins, and serves the client it has.
    const qint64 before = daemon.cpuTimeMs();
    QTest::qWait(1000);
    const qint64 used = daemon.cpuTimeMs() - before;
    QVERIFY2(before >= 0 && used < 150, qPrintable(QString::number(used)));
    QVERIFY(served.ask(new BCI_BWCGetGlobals));
    // Once the idle ones go, new clients get in again.
    idle.clear();
    const auto welcome = [&daemon] { return ServiceClient().connectTo(daemon.port(), 1000); };
    QTRY_VERIFY_WITH_TIMEOUT(welcome(), 10000);
    QCOMPARE(daemon.errorOutput().count("cannot accept"), 1);
    QCOMPARE(daemon.terminate(), 0);
}

void TestEndToEnd::pipelinedRequestsReadLate()
{
    DaemonProcess daemon;
    QVERIFY(daemon.start(m_dir.filePath("pipelined.json")));
    ServiceClient client;
    QVERIFY(client.connectTo(daemon.port()));
    QVERIFY(client.ask(new BCI_BWCEnumApps));
    const qint64 baseline = daemon.peakMemoryKb();
    // Far more replies than it could hold for one client (some 80 MB), asked
    // for at once and read only after a while.
    constexpr int Count = 5000;
    QList<quint32> sequences;
    for (int i = 0; i < Count; ++i)
        sequences << client.send(BaseCommandPtr(new BCI_BWCEnumApps));
    QTest::qWait(1000);
    QSet<quint32> answered;
    while (answered.size() < Count) {
        const BaseCommandPtr reply = client.readFrame(20000);
        QVERIFY(reply);
        if (reply->HasTypeBits(BWC_BROADCAST_BITS))
            continue;
        QVERIFY(command_cast<BCI_BWCEnumApps>(reply) && reply->GetStatus() == BCS_SUCCESS);
        QVERIFY2(!answered.contains(reply->GetSequence()), "answered twice");
        answered.insert(reply->GetSequence());
    }
    QCOMPARE(answered, QSet<quint32>(sequences.cbegin(), sequences.cend()));
    // It held a bounded amount meanwhile, and said nothing about each request.
    const qint64 growth = daemon.peakMemoryKb() - baseline;
    QVERIFY2(baseline > 0 && growth < 40 * 1024, qPrintable(QString::number(growth)));
    QVERIFY2(daemon.errorOutput().count('\n') <= 2, qPrintable(daemon.errorOutput()));
    QCOMPARE(daemon.terminate(), 0);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
