#include "commands.h"
#include "daemonprocess.h"
#include "serviceclient.h"
#include "servicestate.h"
#include "statefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

class TestBwcd : public QObject
{
    Q_OBJECT
private slots:
    void badArgumentsExitWithTwo_data();
    void badArgumentsExitWithTwo();
    void endsCleanlyOnSignal_data();
    void endsCleanlyOnSignal();
    void busyPortIsReported();
    void answersOverTheNetwork();
    void settingsSurviveRestart();
    void corruptStateIsMovedAside();
    void acknowledgedChangesSurviveSigkill();
    void largeEnumerationStaysWithinFrames();

private:
    QString statePath() const { return m_dir.filePath(QStringLiteral("state.json")); }
    QTemporaryDir m_dir;
};

void TestBwcd::badArgumentsExitWithTwo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("port 0") << QStringList{"--port", "0"} << "--port";
    QTest::newRow("port too big") << QStringList{"--port", "70000"} << "--port";
    QTest::newRow("port not a number") << QStringList{"--port", "x1"} << "--port";
    QTest::newRow("unknown backend") << QStringList{"--backend", "kernel"} << "unknown backend";
    QTest::newRow("negative seed") << QStringList{"--seed", "-4"} << "--seed";
    QTest::newRow("no apps") << QStringList{"--apps", "0"} << "--apps";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << "frobnicate";
    QTest::newRow("stray argument") << QStringList{"now"} << "unexpected argument";
}

void TestBwcd::badArgumentsExitWithTwo()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QProcess process;
    process.start(DaemonProcess::program(), arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 2);
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(err.contains(message), qPrintable(err));
    QVERIFY(err.contains(QStringLiteral("usage: bwcd")));
}

void TestBwcd::endsCleanlyOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");
#ifdef Q_OS_UNIX
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
#endif
}

void TestBwcd::endsCleanlyOnSignal()
{
#ifdef Q_OS_UNIX
    QFETCH(int, signalNumber);
    DaemonProcess daemon;
    QVERIFY(daemon.start(statePath()));
    ServiceClient client;
    QVERIFY(client.connectTo(daemon.port()));
    ::kill(pid_t(daemon.pid()), signalNumber);
    QVERIFY(daemon.process().waitForFinished(10000));
    QCOMPARE(daemon.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(daemon.process().exitCode(), 0);
#else
    QSKIP("POSIX signals only");
#endif
}

void TestBwcd::busyPortIsReported()
{
    DaemonProcess first;
    QVERIFY(first.start(statePath()));
    QProcess second;
    second.start(DaemonProcess::program(),
                 {"--port", QString::number(first.port()), "--state", statePath()});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 1);
    QVERIFY(QString::fromLocal8Bit(second.readAllStandardError()).contains("cannot listen"));
    QCOMPARE(first.terminate(), 0);
}

void TestBwcd::answersOverTheNetwork()
{
    DaemonProcess daemon;
    QVERIFY(daemon.start(statePath(), {"--wireless", "--seed", "4"}));
    ServiceClient client;
    QVERIFY(client.connectTo(daemon.port()));
    auto* devices = client.ask(new BCI_EnumDevices);
    QVERIFY(devices);
    QCOMPARE(devices->GetStatus(), int(BCS_SUCCESS));
    QCOMPARE(devices->devices().size(), 2);
    auto* apps = client.ask(new BCI_BWCEnumApps);
    QVERIFY(apps);
    QCOMPARE(apps->apps().size(), 30);
    auto* info = new BCI_GetProcessInfo;
    info->setPath(apps->apps().first()->path);
    info = client.ask(info);
    QVERIFY(info);
    QVERIFY(!info->process().icon.isNull());
    auto* stats = client.ask(new BCI_BWCStats);
    QVERIFY(stats);
    QVERIFY(!stats->stats().isEmpty());
    QVERIFY(stats->stats().first()->isTotal);
    auto* odd = client.ask(new BCI_GetLinkSpeed);
    QVERIFY(odd);
    QCOMPARE(odd->GetStatus(), int(BCS_UNSUPPORTED));
    QCOMPARE(daemon.terminate(), 0);
}

void TestBwcd::settingsSurviveRestart()
{
    QString id;
    {
        DaemonProcess daemon;
        QVERIFY(daemon.start(statePath()));
        ServiceClient client;
        QVERIFY(client.connectTo(daemon.port()));
        id = client.ask(new BCI_BWCEnumApps)->apps().at(7)->id;
        BWCEntryPtr entry(new BWCEntry);
        entry->id = id;
        entry->uploadMax = 0;
        entry->downloadMax = 0;
        entry->priority = 3;
        auto* set = new BCI_BWCSetAppSettings;
        set->setEntry(entry);
        QCOMPARE(client.ask(set)->GetStatus(), int(BCS_SUCCESS));
        auto* defaults = new BCI_BWCSetDefaults;
        defaults->setDefaultUploadMax(5000);
        defaults->setDefaultDownloadMax(-1);
        defaults->setDefaultPriority(1);
        QCOMPARE(client.ask(defaults)->GetStatus(), int(BCS_SUCCESS));
        QCOMPARE(client.ask(new BCI_BWCStop)->GetStatus(), int(BCS_SUCCESS));
        // The stop is announced to every client.
        QVERIFY(client.waitBroadcasts(1));
        QVERIFY(command_cast<BCI_BWCGlobalsChanged>(client.broadcasts.last()));
        QCOMPARE(daemon.terminate(), 0);
    }
    DaemonProcess daemon;
    QVERIFY(daemon.start(statePath()));
    ServiceClient client;
    QVERIFY(client.connectTo(daemon.port()));
    QVERIFY(!client.ask(new BCI_BWCGetGlobals)->enabled());
    auto* defaults = client.ask(new BCI_BWCGetDefaults);
    QCOMPARE(defaults->defaultUploadMax(), 5000);
    QCOMPARE(defaults->defaultPriority(), 1);
    bool found = false;
    for (const BWCEntryPtr& entry : client.ask(new BCI_BWCEnumApps)->apps()) {
        if (entry->id == id) {
            found = true;
            QCOMPARE(entry->uploadMax, 0);
            QCOMPARE(entry->priority, 3);
        }
    }
    QVERIFY(found);
    QCOMPARE(daemon.terminate(), 0);
}

void TestBwcd::corruptStateIsMovedAside()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{\"version\": 1, \"enabled\": tr");
    file.close();

    DaemonProcess daemon;
    QVERIFY(daemon.start(path));
    const QString err = daemon.errorOutput();
    QVERIFY2(err.contains(QStringLiteral("corrupt")), qPrintable(err));
    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("state.json.corrupt-*")});
    QCOMPARE(aside.size(), 1);
    QFile kept(dir.filePath(aside.first()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("{\"version\": 1, \"enabled\": tr"));

    // The service runs from the factory state and writes a fresh file on the next change.
    ServiceClient client;
    QVERIFY(client.connectTo(daemon.port()));
    QVERIFY(client.ask(new BCI_BWCGetGlobals)->enabled());
    QCOMPARE(client.ask(new BCI_BWCStop)->GetStatus(), int(BCS_SUCCESS));
    ServiceState state;
    QString message;
    QCOMPARE(StateFile(path).load(&state, &message), StateFile::LoadResult::Loaded);
    QVERIFY(!state.enabled);
    QCOMPARE(daemon.terminate(), 0);
}

void TestBwcd::acknowledgedChangesSurviveSigkill()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    DaemonProcess daemon;
    QVERIFY(daemon.start(path));
    ServiceClient client;
    QVERIFY(client.connectTo(daemon.port()));
    QList<QString> ids;
    for (const BWCEntryPtr& entry : client.ask(new BCI_BWCEnumApps)->apps())
        ids.append(entry->id);

    // A burst of changes, each to an ever larger limit, written back to back
    // so that many are in flight; the daemon dies while it works through them.
    constexpr int Burst = 1000;
    quint32 first = 0;
    for (int i = 0; i < Burst; ++i) {
        BWCEntryPtr entry(new BWCEntry);
        entry->id = ids[i % ids.size()];
        entry->uploadMax = 1000 + i;
        entry->downloadMax = -1;
        entry->priority = 1 + i % 3;
        auto* set = new BCI_BWCSetAppSettings;
        set->setEntry(entry);
        const quint32 sequence = client.send(BaseCommandPtr(set));
        first = first ? first : sequence;
    }
    QHash<QString, int> acknowledged; // id -> largest acknowledged limit
    for (int i = 0; i < Burst / 4; ++i) {
        const BaseCommandPtr reply = client.waitReply(first + quint32(i));
        QVERIFY2(reply, qPrintable(QStringLiteral("no reply to change %1").arg(i)));
        QCOMPARE(reply->GetStatus(), int(BCS_SUCCESS));
        acknowledged.insert(ids[i % ids.size()], 1000 + i);
    }
    daemon.kill();

    ServiceState state;
    QString message;
    QCOMPARE(StateFile(path).load(&state, &message), StateFile::LoadResult::Loaded);
    for (auto it = acknowledged.cbegin(); it != acknowledged.cend(); ++it) {
        const qint32 onDisk = state.settingsFor(it.key()).uploadMax;
        // Later, unacknowledged changes may have landed as well, never fewer.
        QVERIFY2(
            onDisk >= it.value(),
            qPrintable(QStringLiteral("%1: %2 < %3").arg(it.key()).arg(onDisk).arg(it.value())));
    }
    // The restarted service serves the same state.
    DaemonProcess again;
    QVERIFY(again.start(path));
    QVERIFY(!again.errorOutput().contains(QStringLiteral("corrupt")));
    ServiceClient second;
    QVERIFY(second.connectTo(again.port()));
    for (const BWCEntryPtr& entry : second.ask(new BCI_BWCEnumApps)->apps())
        QCOMPARE(entry->uploadMax, state.settingsFor(entry->id).uploadMax);
    QCOMPARE(again.terminate(), 0);
}

void TestBwcd::largeEnumerationStaysWithinFrames()
{
    DaemonProcess daemon;
    QVERIFY(daemon.start(statePath(), {"--apps", "1500"}));
    ServiceClient client;
    QVERIFY(client.connectTo(daemon.port()));
    auto* reply = client.ask(new BCI_BWCEnumApps);
    QVERIFY(reply);
    QVERIFY(client.replyFrameSizes.last() <= qint64(BaseCommand::MaxFrameLength));
    const int rest = 1500 - int(reply->apps().size());
    QVERIFY(rest > 0);
    // The rest arrives as announcements (applications starting may add more).
    QVERIFY(client.waitBroadcasts(rest, 10000));
    QSet<QString> ids;
    for (const BWCEntryPtr& entry : reply->apps())
        ids.insert(entry->id);
    for (const BaseCommandPtr& b : std::as_const(client.broadcasts)) {
        if (auto* added = command_cast<BCI_BWCAppAdded>(b))
            ids.insert(added->entry()->id);
    }
    QCOMPARE(ids.size(), 1500);
    QCOMPARE(daemon.terminate(), 0);
}

QTEST_MAIN(TestBwcd)
#include "tst_bwcd.moc"
