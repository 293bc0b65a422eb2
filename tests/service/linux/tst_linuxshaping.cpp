// Caps and priorities on real traffic: iperf3 between two network namespaces,
// the enforcement programs on a cgroup of the test's own, the HTB trees and
// IFB device on the application side's veth. Needs root.

#include "daemonprocess.h"
#include "iperfrun.h"
#include "netnslab.h"
#include "programrun.h"
#include "servicestate.h"
#include "shapingpolicy.h"
#include "trafficenforcer.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <time.h>
#include <unistd.h>

#include <algorithm>

namespace {

double monotonicSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

constexpr qint64 Mbit = 1000 * 1000 / 8; // bytes per second

QJsonValue field(const QJsonObject& object, const char* outer, const char* inner)
{
    return object.value(QLatin1String(outer)).toObject().value(QLatin1String(inner));
}

} // namespace

class TestLinuxShaping : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void caps_data();
    void caps();
    void priorities_data();
    void priorities();
    void sharedAndChangedCap();
    void oneCapAcrossDevices_data();
    void oneCapAcrossDevices();
    void block_data();
    void block();
    void changeTakesEffect();
    void lanException_data();
    void lanException();
    // Last: it hands the lab to a bwcd of its own.
    void daemonEnforcesAcrossCrash();

private:
    void enforce(const ServiceState& state);
    // Runs probe.py in a namespace (as app 1 when app is set) and gives its JSON line.
    QJsonObject probe(bool app, const QStringList& arguments);

    std::unique_ptr<NetnsLab> m_lab;
    std::unique_ptr<TrafficEnforcer> m_enforcer;
};

void TestLinuxShaping::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("needs root");
    if (QStandardPaths::findExecutable("iperf3").isEmpty())
        QSKIP("needs iperf3");
    m_lab = std::make_unique<NetnsLab>();
    QVERIFY2(m_lab->error().isEmpty(), qPrintable(m_lab->error()));
    m_enforcer = std::make_unique<TrafficEnforcer>();
    QString error;
    TrafficEnforcer::Options options;
    options.tagMapFd = m_lab->tagMapFd();
    options.cgroup = m_lab->cgroupRoot();
    options.netns = "/run/netns/" + m_lab->appNetns();
    options.wholeMachine = false;
    QVERIFY2(m_enforcer->start(options, &error), qPrintable(error));
}

void TestLinuxShaping::cleanupTestCase()
{
    m_enforcer.reset();
    m_lab.reset();
}

void TestLinuxShaping::enforce(const ServiceState& state)
{
    m_enforcer->apply(ShapingPolicy(state),
                      {{1, QStringLiteral("app1")}, {2, QStringLiteral("app2")}});
}

void TestLinuxShaping::caps_data()
{
    QTest::addColumn<bool>("download");
    QTest::addColumn<bool>("udp");
    QTest::addColumn<bool>("ipv6");
    QTest::addColumn<qint64>("cap");
    // "": app1's cap on the veth pair; "unwatched": a program outside the
    // governed cgroup (as a container's or forwarded traffic) under a global
    // maximum of the cap; "tun": app1's cap through a tun device, which has
    // no link header (as VPN tunnels).
    QTest::addColumn<QString>("path");

    QTest::newRow("tcp4 up 1M") << false << false << false << 1 * Mbit << "";
    QTest::newRow("tcp4 up 100M") << false << false << false << 100 * Mbit << "";
    QTest::newRow("tcp4 up 500M") << false << false << false << 500 * Mbit << "";
    QTest::newRow("tcp6 down 1M") << true << false << true << 1 * Mbit << "";
    QTest::newRow("tcp6 down 100M") << true << false << true << 100 * Mbit << "";
    QTest::newRow("tcp6 down 200M") << true << false << true << 200 * Mbit << "";
    QTest::newRow("tcp6 up 100M") << false << false << true << 100 * Mbit << "";
    QTest::newRow("tcp4 down 100M") << true << false << false << 100 * Mbit << "";
    QTest::newRow("udp4 up 20M") << false << true << false << 20 * Mbit << "";
    QTest::newRow("udp6 down 20M") << true << true << true << 20 * Mbit << "";
    QTest::newRow("unwatched tcp4 up 50M") << false << false << false << 50 * Mbit << "unwatched";
    QTest::newRow("unwatched tcp6 down 50M") << true << false << true << 50 * Mbit << "unwatched";
    QTest::newRow("tun tcp4 down 10M") << true << false << false << 10 * Mbit << "tun";
    QTest::newRow("tun udp6 down 10M") << true << true << true << 10 * Mbit << "tun";
}

void TestLinuxShaping::caps()
{
    QFETCH(bool, download);
    QFETCH(bool, udp);
    QFETCH(bool, ipv6);
    QFETCH(qint64, cap);
    QFETCH(QString, path);

    ServiceState state;
    state.globalUploadMax = state.globalDownloadMax = Limits::NoLimit;
    if (path == "unwatched") {
        state.globalUploadMax = state.globalDownloadMax = qint32(cap);
    } else {
        AppSettings app;
        app.uploadMax = app.downloadMax = qint32(cap);
        state.setSettings(QStringLiteral("app1"), app);
    }
    enforce(state);

    IperfRun::Options options;
    options.download = download;
    options.udp = udp;
    options.ipv6 = ipv6;
    options.udpOffered = quint64(cap) * 2;
    options.seconds = 6; // seconds 2 to 5 count
    options.app = path == "unwatched" ? 0 : 1;
    // Reads of a size the cap moves many times a second, so that seconds compare.
    if (!udp)
        options.blockBytes = int(qBound<qint64>(1024LL, cap / 64, 128 * 1024LL));
    const auto removeTunnel = qScopeGuard([&] {
        if (options.host.isEmpty())
            return;
        m_lab->removeTunnel();
        m_enforcer->syncDevices();
    });
    if (path == "tun") {
        options.host = ipv6 ? QStringLiteral("fd79::2") : QStringLiteral("10.79.0.2");
        // The relay is an instrument as iperf3 is (see IperfRun).
        QVERIFY2(m_lab->addTunnel({"nice", "-n", "-10", "python3", PROBE_PATH, "relay"}),
                 "cannot make the tunnel");
        m_enforcer->syncDevices();
    }
    IperfRun run(m_lab.get(), options);
    QVERIFY2(run.start(), qPrintable(run.error()));
    QVERIFY2(run.finish(), qPrintable(run.error()));
    // Against what the cap lets through as this protocol's payload.
    const IperfRun::CapFit fit = run.capFit(double(cap));
    qInfo("%s: %s", QTest::currentDataTag(), qPrintable(fit.text()));
    QVERIFY2(fit.held(), qPrintable(fit.text()));
    // Nor in any one second: a burst the whole would hide.
    const double most = *std::max_element(fit.seconds.cbegin(), fit.seconds.cend());
    QVERIFY2(most <= 1.10, qPrintable(fit.text()));
}

void TestLinuxShaping::priorities_data()
{
    QTest::addColumn<bool>("download");
    QTest::addColumn<int>("first");  // priority of app1
    QTest::addColumn<int>("second"); // priority of app2
    QTest::newRow("up high vs low")
        << false << int(Limits::PriorityHigh) << int(Limits::PriorityLow);
    QTest::newRow("down equal") << true << int(Limits::PriorityNormal)
                                << int(Limits::PriorityNormal);
}

void TestLinuxShaping::priorities()
{
    QFETCH(bool, download);
    QFETCH(int, first);
    QFETCH(int, second);

    ServiceState state;
    state.globalUploadMax = state.globalDownloadMax = qint32(100 * Mbit);
    AppSettings a;
    a.priority = first;
    state.setSettings(QStringLiteral("app1"), a);
    AppSettings b;
    b.priority = second;
    state.setSettings(QStringLiteral("app2"), b);
    enforce(state);

    IperfRun::Options options;
    options.download = download;
    options.app = 1;
    options.seconds = 6;
    IperfRun one(m_lab.get(), options);
    options.app = 2;
    IperfRun two(m_lab.get(), options);
    QVERIFY2(one.start(), qPrintable(one.error()));
    QVERIFY2(two.start(), qPrintable(two.error()));
    QVERIFY2(one.finish(), qPrintable(one.error()));
    QVERIFY2(two.finish(), qPrintable(two.error()));
    const double total = one.average() + two.average();
    const double share = one.average() / total;
    qInfo("%s: %.1f and %.1f Mbit/s", QTest::currentDataTag(), one.average() / Mbit,
          two.average() / Mbit);
    if (first == second)
        QVERIFY2(qAbs(one.average() - two.average()) <= 0.10 * qMax(one.average(), two.average()),
                 qPrintable(QString::number(share)));
    else
        QVERIFY2(share >= 0.85, qPrintable(QString::number(share)));
    QVERIFY2(two.average() > 0.01 * 100 * Mbit, "the lower level starved");
}

void TestLinuxShaping::sharedAndChangedCap()
{
    ServiceState state;
    state.globalUploadMax = state.globalDownloadMax = Limits::NoLimit;
    AppSettings app;
    app.uploadMax = qint32(100 * Mbit);
    state.setSettings(QStringLiteral("app1"), app);
    enforce(state);

    // Two instances of one application share its cap.
    IperfRun::Options options;
    options.seconds = 10;
    IperfRun one(m_lab.get(), options);
    IperfRun two(m_lab.get(), options);
    QVERIFY2(one.start(), qPrintable(one.error()));
    QVERIFY2(two.start(), qPrintable(two.error()));
    const auto stop = qScopeGuard([&] {
        one.abort();
        two.abort();
    });
    QTest::qWait(4000); // seconds 1 to 3 at the first cap
    app.uploadMax = qint32(20 * Mbit);
    state.setSettings(QStringLiteral("app1"), app);
    enforce(state);
    QVERIFY2(one.finish(), qPrintable(one.error()));
    QVERIFY2(two.finish(), qPrintable(two.error()));

    // After the change, the queue that built up at the first cap drains first.
    const IperfRun::CapFit before = IperfRun::capFit({&one, &two}, double(100 * Mbit), 1, 4);
    const IperfRun::CapFit after = IperfRun::capFit({&one, &two}, double(20 * Mbit), 6, 9);
    qInfo("two instances, the first cap: %s", qPrintable(before.text()));
    qInfo("two instances, the second cap: %s", qPrintable(after.text()));
    QVERIFY2(before.held(), qPrintable(before.text()));
    QVERIFY2(after.held(), qPrintable(after.text()));
}

void TestLinuxShaping::oneCapAcrossDevices_data()
{
    QTest::addColumn<bool>("download");
    QTest::addColumn<bool>("udp");
    QTest::newRow("tcp up") << false << false;
    QTest::newRow("tcp down") << true << false;
    QTest::newRow("udp up") << false << true;
    QTest::newRow("udp down") << true << true;
}

// One program moving traffic through the veth pair and a tunnel at once is
// held to its one cap in all, once the service has seen it on both.
void TestLinuxShaping::oneCapAcrossDevices()
{
    QFETCH(bool, download);
    QFETCH(bool, udp);
    const qint64 cap = 10 * Mbit;
    ServiceState state;
    state.globalUploadMax = state.globalDownloadMax = Limits::NoLimit;
    AppSettings app;
    app.uploadMax = app.downloadMax = qint32(cap);
    state.setSettings(QStringLiteral("app1"), app);
    enforce(state);
    QVERIFY2(m_lab->addTunnel({"nice", "-n", "-10", "python3", PROBE_PATH, "relay"}),
             "cannot make the tunnel");
    const auto removeTunnel = qScopeGuard([&] {
        m_lab->removeTunnel();
        m_enforcer->syncDevices();
    });
    m_enforcer->syncDevices();

    IperfRun::Options options;
    options.download = download;
    options.udp = udp;
    options.udpOffered = quint64(cap);
    options.seconds = 10;
    if (!udp)
        options.blockBytes = int(cap / 64);
    IperfRun veth(m_lab.get(), options);
    options.host = QStringLiteral("10.79.0.2");
    IperfRun tunnel(m_lab.get(), options);
    QVERIFY2(veth.start(), qPrintable(veth.error()));
    QVERIFY2(tunnel.start(), qPrintable(tunnel.error()));
    const auto stop = qScopeGuard([&] {
        veth.abort();
        tunnel.abort();
    });
    // Asked as often as bwcd's backend asks, the enforcer shares once a second.
    QString error;
    QVERIFY2(IperfRun::finishAll(
                 {&veth, &tunnel}, [&] { m_enforcer->followContainers(); }, &error),
             qPrintable(error));
    const IperfRun::CapFit both = IperfRun::capFit({&veth, &tunnel}, double(cap), 3, -1);
    qInfo("%s: %s; veth %s; tunnel %s", QTest::currentDataTag(), qPrintable(both.text()),
          qPrintable(veth.capFit(double(cap), 3).text()),
          qPrintable(tunnel.capFit(double(cap), 3).text()));
    QVERIFY2(both.held(), qPrintable(both.text()));
}

QJsonObject TestLinuxShaping::probe(bool app, const QStringList& arguments)
{
    QProcess* process = m_lab->start(app ? m_lab->appNetns() : m_lab->peerNetns(), app ? 1 : 0,
                                     QStringList{"python3", PROBE_PATH} + arguments);
    process->waitForFinished(10000);
    return QJsonDocument::fromJson(process->readAllStandardOutput()).object();
}

void TestLinuxShaping::block_data()
{
    QTest::addColumn<bool>("ipv6");
    QTest::newRow("ipv4") << false;
    QTest::newRow("ipv6") << true;
}

void TestLinuxShaping::block()
{
    QFETCH(bool, ipv6);
    const QString peer = NetnsLab::peerAddress(ipv6);
    const QString self = ipv6 ? QStringLiteral("fd77::1") : QStringLiteral("10.77.0.1");
    ServiceState state;
    enforce(state);

    IperfRun::Options options;
    options.ipv6 = ipv6;
    options.seconds = 30;
    IperfRun transfer(m_lab.get(), options);
    QVERIFY2(transfer.start(), qPrintable(transfer.error()));
    const QString port = ipv6 ? QStringLiteral("7016") : QStringLiteral("7014");
    QProcess* listener =
        m_lab->start(m_lab->appNetns(), 1, {"python3", PROBE_PATH, "listen", port});
    const auto stop = qScopeGuard([&] {
        listener->kill();
        transfer.abort();
    });
    QTRY_VERIFY(listener->canReadLine());

    AppSettings blocked;
    blocked.uploadMax = blocked.downloadMax = Limits::Blocked;
    state.setSettings(QStringLiteral("app1"), blocked);
    enforce(state);
    // The running transfer ends: its connection is reset.
    QTRY_VERIFY_WITH_TIMEOUT(!transfer.running(), 5000);
    QVERIFY(!transfer.finish(1000));
    QVERIFY2(!transfer.error().contains("did not finish"), qPrintable(transfer.error()));

    // New connections and datagrams are refused at once, inbound ones never answered.
    QJsonObject out = probe(true, {"connect", peer, "7011"});
    qInfo("blocked: connect %s in %.3f ms, send %s in %.3f ms",
          qPrintable(field(out, "connect", "result").toVariant().toString()),
          field(out, "connect", "ms").toDouble(),
          qPrintable(field(out, "send", "result").toVariant().toString()),
          field(out, "send", "ms").toDouble());
    QCOMPARE(field(out, "connect", "result").toInt(), EPERM);
    QCOMPARE(field(out, "send", "result").toInt(), EPERM);
    QCOMPARE(field(probe(false, {"connect", self, port}), "connect", "result").toString(),
             QStringLiteral("timed out"));

    state.setSettings(QStringLiteral("app1"), AppSettings());
    enforce(state);
    out = probe(true, {"connect", peer, "7011"});
    QCOMPARE(field(out, "connect", "result").toInt(), ECONNREFUSED);
    QCOMPARE(field(out, "send", "result").toString(), QStringLiteral("ok"));
    QCOMPARE(field(probe(false, {"connect", self, port}), "connect", "result").toString(),
             QStringLiteral("ok"));
}

// How soon a change reaches the traffic: every datagram the blocked
// application begins to send after enforce() returned is refused (and sent
// again once allowed), on one clock in both processes; how long a refused
// sendto() and connect() take; and how long a cap change of a running
// transfer takes to reach the kernel (enforce() returns after the kernel
// acknowledged it). The probe reports each change before the next is made,
// so that a moment the shared machine gives to others delays the test, not
// fails it; the times are medians for the same reason.
void TestLinuxShaping::changeTakesEffect()
{
    ServiceState state;
    state.globalUploadMax = state.globalDownloadMax = Limits::NoLimit;
    AppSettings capped;
    capped.uploadMax = qint32(100 * Mbit);
    state.setSettings(QStringLiteral("app2"), capped);
    enforce(state);
    IperfRun::Options options;
    options.app = 2;
    options.seconds = 30; // stopped when done
    IperfRun transfer(m_lab.get(), options);
    QVERIFY2(transfer.start(), qPrintable(transfer.error()));
    constexpr int Changes = 11;
    QProcess* probe = m_lab->start(m_lab->appNetns(), 1,
                                   {"python3", PROBE_PATH, "flips", NetnsLab::peerAddress(false),
                                    "7011", QString::number(Changes)});
    const auto stop = qScopeGuard([&] {
        probe->kill();
        transfer.abort();
    });
    QTRY_VERIFY(probe->canReadLine());
    probe->readLine();

    AppSettings blocked;
    blocked.uploadMax = blocked.downloadMax = Limits::Blocked;
    QList<double> delays;
    QList<double> capChanges;
    for (int i = 0; i < Changes; ++i) {
        state.setSettings(QStringLiteral("app1"), i % 2 ? AppSettings() : blocked);
        const double called = monotonicSeconds();
        enforce(state);
        const double returned = monotonicSeconds();
        QTRY_VERIFY_WITH_TIMEOUT(probe->canReadLine(), 10000);
        const QJsonObject flip = QJsonDocument::fromJson(probe->readLine()).object();
        QCOMPARE(flip.value("result").toVariant().toString(),
                 i % 2 ? QStringLiteral("ok") : QString::number(EPERM));
        // The last datagram that still had the old outcome was begun before
        // the change was in force.
        QVERIFY2(flip.value("before").toDouble() < returned,
                 qPrintable(QStringLiteral("change %1: the old outcome %2 ms after enforce()")
                                .arg(i)
                                .arg((flip.value("before").toDouble() - returned) * 1000)));
        delays << (flip.value("t").toDouble() - called) * 1000;

        capped.uploadMax = qint32((i % 2 ? 100 : 20) * Mbit);
        state.setSettings(QStringLiteral("app2"), capped);
        const double start = monotonicSeconds();
        enforce(state);
        capChanges << (monotonicSeconds() - start) * 1000;
    }
    // It ends on its own after the last change, maybe already.
    QTRY_VERIFY_WITH_TIMEOUT(probe->state() == QProcess::NotRunning, 10000);
    const QJsonObject out = QJsonDocument::fromJson(probe->readAllStandardOutput()).object();
    const auto list = [](const QList<double>& values) {
        QStringList texts;
        for (double v : values)
            texts << QString::number(v, 'f', 2);
        return texts.join(' ');
    };
    qInfo("block/allow to the first refused/sent datagram, ms: %s", qPrintable(list(delays)));
    qInfo("cap change of a running transfer, ms: %s", qPrintable(list(capChanges)));
    qInfo("refused while blocked: sendto %.3f ms, connect %.3f ms (medians)",
          out.value("sendMs").toDouble(), out.value("connectMs").toDouble());
    QCOMPARE(out.value("connect").toInt(), EPERM);
    QVERIFY2(median(capChanges) < 10, qPrintable(list(capChanges)));
    QVERIFY(out.value("sendMs").toDouble() < 1);
    QVERIFY(out.value("connectMs").toDouble() < 1);
}

void TestLinuxShaping::lanException_data()
{
    QTest::addColumn<bool>("download");
    QTest::newRow("up") << false;
    QTest::newRow("down") << true;
}

// With the LAN exception, traffic with the local network (here the veth
// pair's own prefix) passes every cap and maximum, while traffic with an
// address beyond it (routed through the peer) is still capped.
void TestLinuxShaping::lanException()
{
    QFETCH(bool, download);
    const QString remote = QStringLiteral("203.0.113.2"); // a documentation address
    NetnsLab::run({"ip", "-n", m_lab->peerNetns(), "addr", "add", remote + "/32", "dev", "lo"});
    NetnsLab::run({"ip", "-n", m_lab->appNetns(), "route", "add", remote, "via",
                   NetnsLab::peerAddress(false), "src", "10.77.0.1"});
    const auto unroute = qScopeGuard([&] {
        NetnsLab::run({"ip", "-n", m_lab->appNetns(), "route", "del", remote});
        NetnsLab::run({"ip", "-n", m_lab->appNetns(), "addr", "del", "203.0.113.1/24", "dev",
                       m_lab->appDevice()});
        NetnsLab::run({"ip", "-n", m_lab->peerNetns(), "addr", "del", remote + "/32", "dev", "lo"});
        m_enforcer->syncDevices(); // as bwcd does on every address change
    });
    const qint64 cap = 10 * Mbit;
    ServiceState state;
    state.lanException = 1;
    state.globalUploadMax = state.globalDownloadMax = qint32(2 * cap);
    AppSettings app;
    app.uploadMax = app.downloadMax = qint32(cap);
    state.setSettings(QStringLiteral("app1"), app);
    enforce(state);

    IperfRun::Options options;
    options.download = download;
    options.seconds = 4;
    IperfRun lan(m_lab.get(), options);
    QVERIFY2(lan.start() && lan.finish(), qPrintable(lan.error()));
    options.host = remote;
    options.seconds = 5;
    IperfRun beyond(m_lab.get(), options);
    QVERIFY2(beyond.start() && beyond.finish(), qPrintable(beyond.error()));
    const IperfRun::CapFit fit = beyond.capFit(double(cap));
    qInfo("with the local network %.1f times the cap, beyond it %s", lan.average() / double(cap),
          qPrintable(fit.text()));
    QVERIFY(lan.average() > 3 * double(cap));
    QVERIFY2(fit.held(), qPrintable(fit.text()));

    // An address of the device in the remote's prefix makes that prefix local
    // once the devices are looked at again (bwcd does on every address change).
    NetnsLab::run({"ip", "-n", m_lab->appNetns(), "addr", "add", "203.0.113.1/24", "dev",
                   m_lab->appDevice()});
    m_enforcer->syncDevices();
    options.seconds = 3;
    IperfRun renumbered(m_lab.get(), options);
    QVERIFY2(renumbered.start() && renumbered.finish(), qPrintable(renumbered.error()));
    qInfo("after an address in its prefix: %.1f times the cap", renumbered.average() / double(cap));
    QVERIFY(renumbered.average() > 3 * double(cap));
}

// bwcd --backend linux: a cap set with bwcctl holds on a running transfer;
// after bwcd is killed nothing of it governs traffic, and a new bwcd
// enforces its state file's rules from the first packet.
void TestLinuxShaping::daemonEnforcesAcrossCrash()
{
    m_enforcer.reset();
    qputenv("BWC_LINUX_CGROUP", QFile::encodeName(m_lab->cgroupRoot()));
    qputenv("BWC_LINUX_NETNS", QFile::encodeName("/run/netns/" + m_lab->appNetns()));
    const auto unset = qScopeGuard([] {
        qunsetenv("BWC_LINUX_CGROUP");
        qunsetenv("BWC_LINUX_NETNS");
    });
    QTemporaryDir dir;
    const QString state = dir.filePath("state.json");
    const qint64 cap = 20 * Mbit;
    IperfRun::Options options;

    {
        DaemonProcess bwcd;
        QVERIFY(bwcd.start(state, {"--backend", "linux"}));
        options.seconds = 10;
        IperfRun running(m_lab.get(), options);
        QVERIFY2(running.start(), qPrintable(running.error()));
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(ProgramRun::bwcctl(bwcd.port(), {"apps"}).out.contains("iperf3"),
                                 10000);
        QCOMPARE(ProgramRun::bwcctl(bwcd.port(), {"limit", "iperf3", "up", "20M"}).code, 0);
        // The seconds after the one the limit came in, its queue drained; not the last.
        const qint64 limitedMs = clock.elapsed();
        const int first = int(limitedMs / 1000) + 2;
        QVERIFY2(running.finish(), qPrintable(running.error()));
        QVERIFY2(options.seconds - 1 - first >= 3,
                 qPrintable(QStringLiteral("limited after %1 ms").arg(limitedMs)));
        const IperfRun::CapFit held = running.capFit(double(cap), first);
        qInfo("bwcctl limit on a running transfer: %s", qPrintable(held.text()));
        QVERIFY2(held.held(), qPrintable(held.text()));
        bwcd.terminate(SIGKILL);
    }
    // Killed: its trees may stay until the next start, but nothing steers packets into them.
    options.seconds = 3;
    IperfRun free(m_lab.get(), options);
    QVERIFY2(free.start() && free.finish(), qPrintable(free.error()));
    qInfo("after the crash: %.1f times the cap", free.average() / double(cap));
    QVERIFY(free.average() > 3 * double(cap));

    DaemonProcess bwcd;
    QVERIFY(bwcd.start(state, {"--backend", "linux"}));
    options.seconds = 5;
    IperfRun again(m_lab.get(), options);
    QVERIFY2(again.start() && again.finish(), qPrintable(again.error()));
    const IperfRun::CapFit restored = again.capFit(double(cap));
    qInfo("after a restart, from the first packet: %s", qPrintable(restored.text()));
    QVERIFY2(restored.held(), qPrintable(restored.text()));
    QCOMPARE(bwcd.terminate(SIGTERM), 0);
    QByteArray qdiscs;
    NetnsLab::run({"tc", "-n", m_lab->appNetns(), "qdisc", "show"}, &qdiscs);
    QVERIFY2(!qdiscs.contains("b0c"), qdiscs.constData());
}

QTEST_GUILESS_MAIN(TestLinuxShaping)
#include "tst_linuxshaping.moc"
