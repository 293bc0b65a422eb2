#include "applicationsettings.h"
#include "bwccommands.h"
#include "fakeservice.h"
#include "hostsettings.h"
#include "serviceio.h"
#include "serviceiofactory.h"
#include "signallog.h"

#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr int waitMS = 5000;

QString wirePair(const BaseCommandPtr& cmd)
{
    const auto* defaults = command_cast<BCI_BWCSetDefaults>(cmd);
    if (!defaults)
        return QStringLiteral("not BWCSetDefaults: %1").arg(QLatin1String(cmd->GetName()));
    return QStringLiteral("%1/%2")
        .arg(defaults->defaultUploadMax())
        .arg(defaults->defaultDownloadMax());
}

} // namespace

class TestApplicationSettings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void constructionAsksForGlobalsThenDefaults();
    void nonSuccessRepliesAreIgnored();
    void defaultsReply_data();
    void defaultsReply();
    void blockDefaultOutlivesLaterLimits();
    void globalsReply_data();
    void globalsReply();
    void sentDefaults_data();
    void sentDefaults();
    void unchangedValueSendsNothing_data();
    void unchangedValueSendsNothing();
    void blockSequence_data();
    void blockSequence();
    void enableSendsStartOrStop_data();
    void enableSendsStartOrStop();
    void globalsBroadcast_data();
    void globalsBroadcast();
    void resetSwitchesControlBackOn();
    void storedRatesPersist();

private:
    // A settings object past its first globals and defaults replies, with the
    // log and the request list cleared.
    bool start();
    bool waitForRequests(int nCount);
    bool waitForLog(int nCount);
    bool waitForLog(const QString& prefix);
    // Proves nothing was sent or announced before it: sets the default priority
    // to 7 and waits for that command and signal.
    bool sendMarker();

    QTemporaryDir m_settingsFolder;
    ServiceIO* m_server = nullptr;
    std::unique_ptr<FakeService> m_service;
    std::unique_ptr<ApplicationSettings> m_settings;
    std::unique_ptr<SignalLog> m_log;
};

void TestApplicationSettings::initTestCase()
{
    QVERIFY(m_settingsFolder.isValid());
    HostSettings::useSystemScopeFolder(m_settingsFolder.path());

    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    qputenv("BWC_PORT", QByteArray::number(port));

    m_server = CreateServiceIO(true, nullptr);
    QVERIFY(m_server);
    m_service = std::make_unique<FakeService>(m_server);
}

void TestApplicationSettings::cleanupTestCase()
{
    m_service.reset();
    if (m_server)
        m_server->Release();
}

void TestApplicationSettings::init()
{
    m_service->restart();
}

void TestApplicationSettings::cleanup()
{
    m_log.reset();
    m_settings.reset();
}

bool TestApplicationSettings::waitForRequests(int nCount)
{
    return QTest::qWaitFor([&] { return m_service->requests().size() >= nCount; }, waitMS);
}

bool TestApplicationSettings::waitForLog(int nCount)
{
    return QTest::qWaitFor([&] { return m_log->entries.size() >= nCount; }, waitMS);
}

bool TestApplicationSettings::waitForLog(const QString& prefix)
{
    return QTest::qWaitFor([&] { return m_log->contains(prefix); }, waitMS);
}

bool TestApplicationSettings::start()
{
    m_service->clear();
    m_settings = std::make_unique<ApplicationSettings>();
    m_log = std::make_unique<SignalLog>(m_settings.get());
    if (!waitForLog(QStringLiteral("newDefaultLanException")))
        return false;
    m_log->clear();
    m_service->clear();
    return true;
}

bool TestApplicationSettings::sendMarker()
{
    const int before = m_log->entries.size();
    m_settings->setDefaultPriority(7);
    if (!waitForLog(before + 1))
        return false;
    return QTest::qWaitFor(
        [&] {
            const auto* sent = m_service->last<BCI_BWCSetDefaults>();
            return sent && sent->defaultPriority() == 7;
        },
        waitMS);
}

void TestApplicationSettings::constructionAsksForGlobalsThenDefaults()
{
    m_service->defaultsUp = 1000;
    m_service->defaultsDown = -1;
    m_service->defaultsPriority = 3;
    m_service->defaultsLan = 1;
    m_service->globalsUp = 187500;
    m_service->globalsDown = -1;
    m_service->globalsEnabled = true;
    m_settings = std::make_unique<ApplicationSettings>();
    m_log = std::make_unique<SignalLog>(m_settings.get());

    const QList<quint32> requests = {BCI_BWCGetGlobals::TypeId, BCI_BWCGetDefaults::TypeId};
    const QStringList announced = {"calledBWCEnable(true)", "newGlobalUL(1500000)",
                                   "newGlobalDL(-1)",       "newDefaultUL(8000)",
                                   "newDefaultDL(-1)",      "newDefaultBlock(false)",
                                   "newDefaultPriority(3)", "newDefaultLanException(true)"};
    QVERIFY(waitForLog(announced.size()));
    QCOMPARE(m_service->requestTypes(), requests);
    QCOMPARE(m_log->entries, announced);
    QCOMPARE(m_settings->defaultUL(), 8000);
    QCOMPARE(m_settings->defaultDL(), -1);
    QCOMPARE(m_settings->defaultPriority(), 3u);
    QVERIFY(m_settings->defaultLanException());
    QVERIFY(m_settings->isBWCEnabled());
    QCOMPARE(m_settings->globalUL(), 1500000u);
    QCOMPARE(m_settings->globalDL(), 0xFFFFFFFFu);

    // Asked again (the service came back online), it asks in the same order and
    // announces everything again although nothing changed.
    m_service->clear();
    m_log->clear();
    m_settings->requestGlobalsAndDefaults();
    QVERIFY(waitForLog(announced.size()));
    QCOMPARE(m_service->requestTypes(), requests);
    QCOMPARE(m_log->entries, announced);
}

void TestApplicationSettings::nonSuccessRepliesAreIgnored()
{
    QVERIFY(start());
    m_service->replyStatus = BCS_INVALID;
    m_service->defaultsUp = 5;
    m_service->globalsUp = 5;
    m_service->globalsEnabled = false;
    m_settings->requestGlobalsAndDefaults();
    QVERIFY(waitForRequests(2));

    // Replies are handled in order, so once these are announced the failed
    // ones have been seen and dropped.
    m_service->replyStatus = BCS_SUCCESS;
    m_service->defaultsUp = 10;
    m_service->globalsUp = 10;
    m_settings->requestGlobalsAndDefaults();
    QVERIFY(waitForLog(QStringLiteral("newDefaultLanException")));
    QCOMPARE(m_log->entries.size(), 8);
    QCOMPARE(m_log->entries.at(0), QStringLiteral("calledBWCEnable(false)"));
    QCOMPARE(m_log->entries.at(1), QStringLiteral("newGlobalUL(80)"));
    QCOMPARE(m_log->entries.at(3), QStringLiteral("newDefaultUL(80)"));
}

void TestApplicationSettings::defaultsReply_data()
{
    QTest::addColumn<qint32>("wireUp");
    QTest::addColumn<qint32>("wireDown");
    QTest::addColumn<qint32>("up");
    QTest::addColumn<qint32>("down");
    QTest::addColumn<bool>("block");

    QTest::newRow("no limit stays") << -1 << -1 << -1 << -1 << false;
    QTest::newRow("bytes to bits") << 125 << 1000 << 1000 << 8000 << false;
    QTest::newRow("both zero blocks") << 0 << 0 << 0 << 0 << true;
    QTest::newRow("one zero does not block") << 0 << 50 << 0 << 400 << false;
    QTest::newRow("wraps in 32 bits") << 0x20000001 << -1 << 8 << -1 << false;
}

void TestApplicationSettings::defaultsReply()
{
    QFETCH(qint32, wireUp);
    QFETCH(qint32, wireDown);
    QFETCH(qint32, up);
    QFETCH(qint32, down);
    QFETCH(bool, block);

    m_service->defaultsUp = wireUp;
    m_service->defaultsDown = wireDown;
    m_settings = std::make_unique<ApplicationSettings>();
    m_log = std::make_unique<SignalLog>(m_settings.get());
    QVERIFY(waitForLog(QStringLiteral("newDefaultLanException")));
    QCOMPARE(m_settings->defaultUL(), up);
    QCOMPARE(m_settings->defaultDL(), down);
    QCOMPARE(m_settings->defaultBlock(), block);
    QVERIFY(m_log->entries.contains(
        QStringLiteral("newDefaultBlock(%1)").arg(QLatin1String(block ? "true" : "false"))));
}

void TestApplicationSettings::blockDefaultOutlivesLaterLimits()
{
    m_service->defaultsUp = 0;
    m_service->defaultsDown = 0;
    QVERIFY(start());
    QVERIFY(m_settings->defaultBlock());

    m_service->defaultsUp = 100;
    m_service->defaultsDown = 100;
    m_settings->requestGlobalsAndDefaults();
    QVERIFY(waitForLog(QStringLiteral("newDefaultLanException")));
    QCOMPARE(m_settings->defaultUL(), 800);
    QVERIFY(m_settings->defaultBlock());
    QVERIFY(m_log->entries.contains(QStringLiteral("newDefaultBlock(true)")));
}

void TestApplicationSettings::globalsReply_data()
{
    QTest::addColumn<qint32>("wire");
    QTest::addColumn<quint32>("bps");

    QTest::newRow("no limit passes unchanged") << -1 << 0xFFFFFFFFu;
    QTest::newRow("bytes to bits") << 187500 << 1500000u;
    QTest::newRow("largest that fits") << 536870911 << 4294967288u;
    QTest::newRow("too large saturates") << 536870912 << 0xFFFFFFFEu;
}

void TestApplicationSettings::globalsReply()
{
    QFETCH(qint32, wire);
    QFETCH(quint32, bps);

    m_service->globalsUp = wire;
    m_service->globalsDown = wire;
    QVERIFY(start());
    QCOMPARE(m_settings->globalUL(), bps);
    QCOMPARE(m_settings->globalDL(), bps);
}

void TestApplicationSettings::sentDefaults_data()
{
    QTest::addColumn<qint32>("bps");
    QTest::addColumn<qint32>("wire");

    QTest::newRow("below a byte") << 7 << 0;
    QTest::newRow("default applies") << -2 << 0;
    QTest::newRow("whole bytes") << 8000 << 1000;
    QTest::newRow("truncates") << 8007 << 1000;
    QTest::newRow("no limit") << -1 << -1;
    QTest::newRow("largest") << 2147483647 << 268435455;
}

void TestApplicationSettings::sentDefaults()
{
    QFETCH(qint32, bps);
    QFETCH(qint32, wire);

    m_service->defaultsUp = 2; // 16 bits per second, so that -1 is a change
    m_service->defaultsDown = 2;
    m_service->defaultsPriority = 3;
    m_service->defaultsLan = 1;
    QVERIFY(start());

    m_settings->setDefaultUL(bps);
    m_settings->setDefaultDL(bps);
    QVERIFY(waitForRequests(2));
    const QList<BaseCommandPtr> sent = m_service->requests();
    QCOMPARE(wirePair(sent.at(0)), QStringLiteral("%1/2").arg(wire));
    QCOMPARE(wirePair(sent.at(1)), QStringLiteral("%1/%1").arg(wire));
    const auto* last = command_cast<BCI_BWCSetDefaults>(sent.at(1));
    QCOMPARE(last->defaultPriority(), 3);
    QCOMPARE(last->lanException(), 1);
    QCOMPARE(m_log->entries, QStringList({QStringLiteral("newDefaultUL(%1)").arg(bps),
                                          QStringLiteral("newDefaultDL(%1)").arg(bps)}));
}

void TestApplicationSettings::unchangedValueSendsNothing_data()
{
    QTest::addColumn<int>("setter");
    QTest::newRow("upload limit") << 0;
    QTest::newRow("download limit") << 1;
    QTest::newRow("priority") << 2;
    QTest::newRow("block") << 3;
    QTest::newRow("LAN exception") << 4;
    QTest::newRow("control") << 5;
    QTest::newRow("bar frame rate") << 6;
}

void TestApplicationSettings::unchangedValueSendsNothing()
{
    QFETCH(int, setter);
    QVERIFY(start());
    ApplicationSettings& s = *m_settings;
    switch (setter) {
    case 0:
        s.setDefaultUL(s.defaultUL());
        break;
    case 1:
        s.setDefaultDL(s.defaultDL());
        break;
    case 2:
        s.setDefaultPriority(s.defaultPriority());
        break;
    case 3:
        s.setDefaultBlock(s.defaultBlock());
        break;
    case 4:
        s.setDefaultLanException(s.defaultLanException());
        break;
    case 5:
        s.setBWCEnable(s.isBWCEnabled());
        break;
    case 6:
        s.setBarFrameRate(s.barFrameRate());
        break;
    }
    QVERIFY(sendMarker());
    QCOMPARE(m_service->requests().size(), 1);
    QCOMPARE(m_log->entries, QStringList({QStringLiteral("newDefaultPriority(7)")}));
}

void TestApplicationSettings::blockSequence_data()
{
    QTest::addColumn<qint32>("wireUp");
    QTest::addColumn<qint32>("wireDown");
    QTest::addColumn<bool>("block");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QStringList>("announced");

    QTest::newRow("block from no limits")
        << -1 << -1 << true << QStringList{"0/-1", "0/0", "0/0"}
        << QStringList{"newDefaultUL(0)", "newDefaultDL(0)", "newDefaultBlock(true)"};
    QTest::newRow("block from limits")
        << 100 << 100 << true << QStringList{"0/100", "0/0", "0/0"}
        << QStringList{"newDefaultUL(0)", "newDefaultDL(0)", "newDefaultBlock(true)"};
    QTest::newRow("block with upload already 0")
        << 0 << -1 << true << QStringList{"0/0", "0/0"}
        << QStringList{"newDefaultDL(0)", "newDefaultBlock(true)"};
    QTest::newRow("allow from blocked")
        << 0 << 0 << false << QStringList{"-1/0", "-1/-1", "-1/-1"}
        << QStringList{"newDefaultUL(-1)", "newDefaultDL(-1)", "newDefaultBlock(false)"};
}

void TestApplicationSettings::blockSequence()
{
    QFETCH(qint32, wireUp);
    QFETCH(qint32, wireDown);
    QFETCH(bool, block);
    QFETCH(QStringList, sent);
    QFETCH(QStringList, announced);

    m_service->defaultsUp = wireUp;
    m_service->defaultsDown = wireDown;
    QVERIFY(start());
    QCOMPARE(m_settings->defaultBlock(), !block);

    m_settings->setDefaultBlock(block);
    QCOMPARE(m_log->entries, announced); // emitted directly, in the caller's thread
    QVERIFY(sendMarker());
    QStringList wire;
    for (const BaseCommandPtr& cmd : m_service->requests())
        wire << wirePair(cmd);
    wire.removeLast(); // the marker
    QCOMPARE(wire, sent);
    QCOMPARE(m_settings->defaultBlock(), block);
}

void TestApplicationSettings::enableSendsStartOrStop_data()
{
    QTest::addColumn<bool>("initially");
    QTest::addColumn<quint32>("command");
    QTest::newRow("switch on") << false << BCI_BWCStart::TypeId;
    QTest::newRow("switch off") << true << BCI_BWCStop::TypeId;
}

void TestApplicationSettings::enableSendsStartOrStop()
{
    QFETCH(bool, initially);
    QFETCH(quint32, command);

    m_service->globalsEnabled = initially;
    QVERIFY(start());
    m_settings->setBWCEnable(!initially);
    QVERIFY(sendMarker());
    QCOMPARE(m_service->requestTypes(), QList<quint32>({command, BCI_BWCSetDefaults::TypeId}));
    m_log->entries.removeLast(); // the marker
    QCOMPARE(m_settings->isBWCEnabled(), !initially);
    QCOMPARE(m_log->entries, QStringList{QStringLiteral("calledBWCEnable(%1)")
                                             .arg(QLatin1String(initially ? "false" : "true"))});
}

void TestApplicationSettings::globalsBroadcast_data()
{
    QTest::addColumn<qint32>("up");
    QTest::addColumn<qint32>("down");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<qint32>("status");
    QTest::addColumn<QStringList>("announced");

    // Held from the start: 187500 and 156250 bytes per second, control on.
    QTest::newRow("repeats the held values")
        << 187500 << 156250 << true << qint32(BCS_SUCCESS) << QStringList();
    QTest::newRow("upload changed") << 200000 << 156250 << true << qint32(BCS_SUCCESS)
                                    << QStringList{"newGlobalUL(1600000)", "newGlobalDL(1250000)"};
    QTest::newRow("download to no limit") << 187500 << -1 << true << qint32(BCS_SUCCESS)
                                          << QStringList{"newGlobalUL(1500000)", "newGlobalDL(-1)"};
    QTest::newRow("control switched off") << 187500 << 156250 << false << qint32(BCS_SUCCESS)
                                          << QStringList{"calledBWCEnable(false)"};
    QTest::newRow("off with new limits")
        << 1 << 2 << false << qint32(BCS_SUCCESS)
        << QStringList{"calledBWCEnable(false)", "newGlobalUL(8)", "newGlobalDL(16)"};
    QTest::newRow("not a success") << 1 << 2 << false << qint32(BCS_INVALID) << QStringList();
}

void TestApplicationSettings::globalsBroadcast()
{
    QFETCH(qint32, up);
    QFETCH(qint32, down);
    QFETCH(bool, enabled);
    QFETCH(qint32, status);
    QFETCH(QStringList, announced);

    m_service->globalsUp = 187500;
    m_service->globalsDown = 156250;
    m_service->globalsEnabled = true;
    QVERIFY(start());
    m_service->broadcastGlobals(up, down, enabled, status);
    // Broadcasts arrive in order: once the marker's limits are announced, the
    // broadcast before it has been handled.
    const bool held = status == BCS_SUCCESS ? enabled : true;
    m_service->broadcastGlobals(12345, 12345, held);
    const QStringList expected =
        announced + QStringList{"newGlobalUL(98760)", "newGlobalDL(98760)"};
    QVERIFY(waitForLog(expected.size()));
    QCOMPARE(m_log->entries, expected);
    QCOMPARE(m_settings->isBWCEnabled(), held);
    QCOMPARE(m_service->requests().size(), 0);
}

void TestApplicationSettings::resetSwitchesControlBackOn()
{
    QVERIFY(start());
    QVERIFY(m_settings->isBWCEnabled());
    m_settings->resetAll();
    QCOMPARE(m_log->entries, QStringList{"doResetAll()"});

    // The reset's reply makes it ask for globals and defaults again.
    QVERIFY(waitForLog(QStringLiteral("newDefaultLanException")));
    QCOMPARE(m_service->requestTypes(),
             QList<quint32>(
                 {BCI_BWCResetAll::TypeId, BCI_BWCGetGlobals::TypeId, BCI_BWCGetDefaults::TypeId}));
    m_service->clear();
    m_log->clear();

    // The service reports control off; the module does not follow but
    // switches it back on.
    m_service->broadcastGlobals(m_service->globalsUp, m_service->globalsDown, false);
    QVERIFY(waitForRequests(1));
    QCOMPARE(m_service->requestTypes(), QList<quint32>{BCI_BWCStart::TypeId});
    QCOMPARE(m_log->entries, QStringList{"calledBWCEnable(true)"});
    QVERIFY(m_settings->isBWCEnabled());

    // The reset is over: the next report of control off is followed.
    m_service->broadcastGlobals(m_service->globalsUp, m_service->globalsDown, false);
    QVERIFY(waitForLog(2));
    QCOMPARE(m_log->entries.at(1), QStringLiteral("calledBWCEnable(false)"));
    QVERIFY(!m_settings->isBWCEnabled());
}

void TestApplicationSettings::storedRatesPersist()
{
    {
        QScopedPointer<QSettings> stored(HostSettings::create());
        stored->clear();
    }
    QVERIFY(start());
    QCOMPARE(m_settings->statSampleRate(), 1000u);
    QCOMPARE(m_settings->barFrameRate(), 30u);

    m_settings->setBarFrameRate(25);
    m_settings->setStatSampleRate(2000);
    m_settings->setStatSampleRate(2000);
    QCOMPARE(m_log->entries, QStringList({"newBarFrameRate(25)", "newStatSampleRate(2000)"}));
    QVERIFY(sendMarker());
    QCOMPARE(m_service->requests().size(), 1); // the rates never reach the service

    cleanup();
    QVERIFY(start());
    QCOMPARE(m_settings->barFrameRate(), 25u);
    QCOMPARE(m_settings->statSampleRate(), 2000u);
    {
        QScopedPointer<QSettings> stored(HostSettings::create());
        QCOMPARE(stored->value(QStringLiteral("Applications/BarFrameRate")).toUInt(), 25u);
        stored->setValue(QStringLiteral("Applications/StatSampleRate"), QStringLiteral("fast"));
    }
    QCOMPARE(m_settings->statSampleRate(), 0u);
}

QTEST_GUILESS_MAIN(TestApplicationSettings)
#include "tst_applicationsettings.moc"
