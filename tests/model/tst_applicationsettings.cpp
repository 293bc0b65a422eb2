#include "applicationsettings.h"
#include "bwccommands.h"
#include "hostsettings.h"
#include "serviceio.h"
#include "serviceiofactory.h"

#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr int waitMS = 5000;
const QStringList asked = {"BWCGetGlobals", "BWCGetDefaults"};

// What the service answers next, in its own units.
struct Replies
{
    qint32 defaultsUp = -1, defaultsDown = -1, priority = 2, lan = 0;
    qint32 globalsUp = 187500, globalsDown = 1250000;
    bool enabled = true;
    qint32 status = BCS_SUCCESS;
};

template <class L> bool reaches(const L& list, int n)
{
    return QTest::qWaitFor([&] { return list.size() >= n; }, waitMS);
}

// Logs a signal of m_settings as "name(value)" in m_log.
#define LOG(signal)                                                                                \
    connect(m_settings.get(), &ApplicationSettings::signal, this, [this](auto... v) {              \
        m_log << QString(#signal "(%1)").arg(QStringList{QVariant(v).toString()...}.join(','));    \
    })

// The eight signals of a globals and defaults round with control off,
// priority 3 and the LAN exception; v: global limits, default limits, block.
QStringList round(const QStringList& v)
{
    return {"calledBWCEnable(false)",     "newGlobalUL(" + v[0] + ")",
            "newGlobalDL(" + v[1] + ")",  "newDefaultUL(" + v[2] + ")",
            "newDefaultDL(" + v[3] + ")", "newDefaultBlock(" + v[4] + ")",
            "newDefaultPriority(3)",      "newDefaultLanException(true)"};
}

} // namespace

// The settings object against the project's own server in this process,
// which the test answers as the service would.
class TestApplicationSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    std::unique_ptr<ServiceIO, void (*)(ServiceIO*)> m_server{nullptr,
                                                              [](ServiceIO* s) { s->Release(); }};
    Replies m_next;
    QList<BaseCommandPtr> m_requests;
    std::unique_ptr<ApplicationSettings> m_settings;
    QStringList m_log; // every signal, in order

    void answer(BaseCommandPtr cmd)
    {
        m_server->RetrieveCommand(&cmd);
        m_requests << cmd;
        // A reply is the request's class with its sequence number and client.
        if (auto* d = command_cast<BCI_BWCGetDefaults>(cmd)) {
            d->setDefaultUploadMax(m_next.defaultsUp);
            d->setDefaultDownloadMax(m_next.defaultsDown);
            d->setDefaultPriority(m_next.priority);
            d->setLanException(m_next.lan);
        } else if (auto* g = command_cast<BCI_BWCGetGlobals>(cmd)) {
            g->setGlobalUploadMax(m_next.globalsUp);
            g->setGlobalDownloadMax(m_next.globalsDown);
            g->setEnabled(m_next.enabled);
        }
        cmd->SetStatus(m_next.status);
        m_server->SendCommand(cmd, waitMS);
    }
    void broadcast(qint32 up, qint32 down, bool enabled, qint32 status = BCS_SUCCESS)
    {
        auto* cmd = new BCI_BWCGlobalsChanged;
        cmd->setGlobalUploadMax(up);
        cmd->setGlobalDownloadMax(down);
        cmd->setEnabled(enabled);
        cmd->SetStatus(status);
        m_server->SendCommand(BaseCommandPtr(cmd), waitMS);
    }
    // The requests by name, the limits of BWCSetDefaults as "upload/download".
    QStringList sent() const
    {
        QStringList sent;
        for (const BaseCommandPtr& cmd : m_requests) {
            const auto* d = command_cast<BCI_BWCSetDefaults>(cmd);
            sent << (d ? QString("%1/%2").arg(d->defaultUploadMax()).arg(d->defaultDownloadMax())
                       : QString(cmd->GetName()));
        }
        return sent;
    }
    // A new settings object past its first replies; log and requests cleared unless kept.
    bool start(bool keep = false)
    {
        m_log.clear();
        m_requests.clear();
        m_settings = std::make_unique<ApplicationSettings>();
        LOG(newDefaultUL), LOG(newDefaultDL), LOG(newDefaultPriority), LOG(newDefaultBlock);
        LOG(newDefaultLanException), LOG(newBarFrameRate), LOG(newStatSampleRate), LOG(doResetAll);
        LOG(calledBWCEnable), LOG(newActiveCount), LOG(newInactiveCount), LOG(newGlobalUL);
        LOG(newGlobalDL);
        const bool answered = reaches(m_log, 8);
        if (!keep) {
            m_log.clear();
            m_requests.clear();
        }
        return answered;
    }
    // Sets the default priority to 7 and waits for its command, and so for
    // everything sent before it.
    bool sendMarker()
    {
        m_settings->setDefaultPriority(7);
        return QTest::qWaitFor(
            [&] {
                const auto* last =
                    command_cast<BCI_BWCSetDefaults>(m_requests.value(m_requests.size() - 1));
                return last && last->defaultPriority() == 7;
            },
            waitMS);
    }
private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        HostSettings::useSystemScopeFolder(m_folder.path());
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        qputenv("BWC_PORT", QByteArray::number(probe.serverPort()));
        probe.close();
        m_server.reset(CreateServiceIO(true, nullptr));
        QVERIFY(m_server);
        connect(m_server.get(), &ServiceIO::NewCommandReceived, this,
                [this](BaseCommandPtr cmd) { answer(cmd); });
    }
    void init() { m_next = Replies(); }
    void cleanup() { m_settings.reset(); }

    void replies_data()
    {
        QTest::addColumn<qint32>("wireUp");
        QTest::addColumn<qint32>("wireDown");
        QTest::addColumn<qint32>("wireGlobal");
        QTest::addColumn<QString>("announced");

        // The global download limit is always -1; an overflow saturates at the
        // largest signed rate, never reaching the codes -1 and -2.
        QTest::newRow("no limit stays") << -1 << -1 << -1 << "-1 -1 -1 -1 false";
        QTest::newRow("to bits") << 125 << 1000 << 187500 << "1500000 -1 1000 8000 false";
        QTest::newRow("both zero blocks") << 0 << 0 << 1 << "8 -1 0 0 true";
        QTest::newRow("one zero does not block") << 0 << 50 << 2 << "16 -1 0 400 false";
        QTest::newRow("defaults wrap, globals saturate")
            << 0x20000001 << -1 << 536870912 << "2147483647 -1 8 -1 false";
    }
    void replies()
    {
        QFETCH(qint32, wireUp);
        QFETCH(qint32, wireDown);
        QFETCH(qint32, wireGlobal);
        QFETCH(QString, announced);

        m_next = {wireUp, wireDown, 3, 1, wireGlobal, -1, false};
        QVERIFY(start(true));
        QCOMPARE(sent(), asked);
        QStringList values = announced.split(' ');
        QCOMPARE(m_log, round(values));

        // Failed replies and broadcasts are dropped. All come in order, so once
        // the next round is announced the failed ones have been handled.
        m_log.clear();
        m_next = {5, 5, 4, 0, 5, 5, true, BCS_INVALID};
        m_settings->requestGlobalsAndDefaults();
        broadcast(5, 5, true, BCS_INVALID);
        QVERIFY(reaches(m_requests, 4));
        // Asked again: the same requests, all announced; 100/100 keeps the block.
        m_next = {100, 100, 3, 1, wireGlobal, -1, false};
        m_settings->requestGlobalsAndDefaults();
        QVERIFY(reaches(m_log, 8));
        QCOMPARE(sent(), asked + asked + asked);
        values[2] = values[3] = "800";
        QCOMPARE(m_log, round(values));
    }

    void sentDefaults_data()
    {
        QTest::addColumn<qint32>("bps");
        QTest::addColumn<qint32>("wire");
        QTest::newRow("below a byte") << 7 << 0;
        QTest::newRow("default applies") << -2 << 0;
        QTest::newRow("negative") << -16 << 0;
        QTest::newRow("whole bytes") << 8000 << 1000;
        QTest::newRow("truncates") << 8007 << 1000;
        QTest::newRow("no limit") << -1 << -1;
    }
    void sentDefaults()
    {
        QFETCH(qint32, bps);
        QFETCH(qint32, wire);
        m_next = {2, 2, 3, 1}; // 16 bits per second, so that -1 is a change
        QVERIFY(start());
        m_settings->setDefaultUL(bps);
        m_settings->setDefaultDL(bps);
        QVERIFY(reaches(m_requests, 2));
        QCOMPARE(sent(), QStringList({QString("%1/2").arg(wire), QString("%1/%1").arg(wire)}));
        const auto* last = command_cast<BCI_BWCSetDefaults>(m_requests.at(1));
        QCOMPARE(std::pair(last->defaultPriority(), last->lanException()), std::pair(3, 1));
        QCOMPARE(m_log, QStringList({QString("newDefaultUL(%1)").arg(bps),
                                     QString("newDefaultDL(%1)").arg(bps)}));
    }

    void blockSequence_data()
    {
        QTest::addColumn<qint32>("wireUp");
        QTest::addColumn<qint32>("wireDown");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("announced");

        const QStringList blocked = {"newDefaultUL(0)", "newDefaultDL(0)", "newDefaultBlock(true)"};
        QTest::newRow("block from no limits")
            << -1 << -1 << QStringList{"0/-1", "0/0", "0/0"} << blocked;
        QTest::newRow("block from limits")
            << 100 << 100 << QStringList{"0/100", "0/0", "0/0"} << blocked;
        QTest::newRow("block with upload already 0")
            << 0 << -1 << QStringList{"0/0", "0/0"} << blocked.mid(1);
        QTest::newRow("allow from blocked")
            << 0 << 0 << QStringList{"-1/0", "-1/-1", "-1/-1"}
            << QStringList{"newDefaultUL(-1)", "newDefaultDL(-1)", "newDefaultBlock(false)"};
    }
    void blockSequence()
    {
        QFETCH(qint32, wireUp);
        QFETCH(qint32, wireDown);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, announced);

        m_next = {wireUp, wireDown};
        QVERIFY(start());
        const bool block = !m_settings->defaultBlock();
        m_settings->setDefaultBlock(block);
        QCOMPARE(m_log, announced); // emitted directly, in the caller's thread
        QVERIFY(sendMarker());
        m_requests.removeLast(); // the marker
        QCOMPARE(sent(), expected);
        QCOMPARE(m_settings->defaultBlock(), block);
    }

    void globalsBroadcast_data()
    {
        QTest::addColumn<qint32>("up");
        QTest::addColumn<qint32>("down");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QStringList>("announced");

        // Held from the start: 187500 and 1250000 bytes per second, control on.
        QTest::newRow("repeats the held values") << 187500 << 1250000 << true << QStringList();
        QTest::newRow("download to no limit")
            << 187500 << -1 << true << QStringList{"newGlobalUL(1500000)", "newGlobalDL(-1)"};
        QTest::newRow("control switched off")
            << 187500 << 1250000 << false << QStringList{"calledBWCEnable(false)"};
        QTest::newRow("off, upload changed")
            << 1 << 1250000 << false
            << QStringList{"calledBWCEnable(false)", "newGlobalUL(8)", "newGlobalDL(10000000)"};
    }
    void globalsBroadcast()
    {
        QFETCH(qint32, up);
        QFETCH(qint32, down);
        QFETCH(bool, enabled);
        QFETCH(QStringList, announced);

        QVERIFY(start());
        broadcast(up, down, enabled);
        // Broadcasts arrive in order: once this one's limits are announced,
        // the one before has been handled.
        broadcast(12345, 12345, enabled);
        announced += QStringList{"newGlobalUL(98760)", "newGlobalDL(98760)"};
        QVERIFY(reaches(m_log, announced.size()));
        QCOMPARE(m_log, announced);
        QCOMPARE(m_settings->isBWCEnabled(), enabled);
        QVERIFY(m_requests.isEmpty());
    }

    void switchAndReset()
    {
        QVERIFY(start());
        m_settings->setBWCEnable(false);
        m_settings->resetAll();
        QCOMPARE(m_log, QStringList({"calledBWCEnable(false)", "doResetAll()"}));
        // The reset's reply makes it ask for globals and defaults again.
        QVERIFY(reaches(m_log, 10));
        QCOMPARE(sent(), QStringList({"BWCStop", "BWCResetAll"}) + asked);
        QVERIFY(m_settings->isBWCEnabled());
        m_requests.clear();
        m_log.clear();

        // The service reports control off; the module does not follow but
        // switches it back on.
        broadcast(m_next.globalsUp, m_next.globalsDown, false);
        QVERIFY(reaches(m_requests, 1));
        QCOMPARE(sent(), QStringList{"BWCStart"});
        QCOMPARE(m_log, QStringList{"calledBWCEnable(true)"});
        QVERIFY(m_settings->isBWCEnabled());

        // The reset is over: the next report of control off is followed.
        broadcast(m_next.globalsUp, m_next.globalsDown, false);
        QVERIFY(reaches(m_log, 2));
        QCOMPARE(m_log.at(1), QString("calledBWCEnable(false)"));
        QVERIFY(!m_settings->isBWCEnabled());
    }

    void unchangedValuesAndStoredRates()
    {
        QScopedPointer<QSettings> stored(HostSettings::create());
        stored->clear();
        QVERIFY(start());
        ApplicationSettings& s = *m_settings;
        s.setDefaultUL(s.defaultUL());
        s.setDefaultDL(s.defaultDL());
        s.setDefaultPriority(s.defaultPriority());
        s.setDefaultBlock(s.defaultBlock());
        s.setDefaultLanException(s.defaultLanException());
        s.setBWCEnable(s.isBWCEnabled());
        QCOMPARE(s.barFrameRate(), 30u);
        QCOMPARE(s.statSampleRate(), 1000u);
        s.setBarFrameRate(30);
        s.setStatSampleRate(1000);
        s.setBarFrameRate(25);
        s.setStatSampleRate(2000);
        QVERIFY(sendMarker());
        // Unchanged values send and announce nothing; the rates never reach the service.
        QCOMPARE(m_log, QStringList({"newBarFrameRate(25)", "newStatSampleRate(2000)",
                                     "newDefaultPriority(7)"}));
        QCOMPARE(m_requests.size(), 1);

        QVERIFY(start());
        QCOMPARE(m_settings->barFrameRate(), 25u);
        QCOMPARE(m_settings->statSampleRate(), 2000u);
        QCOMPARE(stored->value("Applications/BarFrameRate").toUInt(), 25u);
        stored->setValue("Applications/StatSampleRate", "fast");
        QCOMPARE(m_settings->statSampleRate(), 0u);
    }
};

QTEST_GUILESS_MAIN(TestApplicationSettings)
#include "tst_applicationsettings.moc"
