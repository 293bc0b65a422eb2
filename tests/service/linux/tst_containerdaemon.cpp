// bwcd --backend linux and a container: a program in a network namespace of
// its own, routed through the service's namespace, whose first process starts
// after bwcd. It is capped through bwcctl like any program; bwcd's trees in
// its namespace go with a clean stop, and a bwcd started after a crash
// replaces what the crashed one left there, also where the container has no
// process left. Needs root and iperf3.

#include "daemonprocess.h"
#include "iperfrun.h"
#include "netnslab.h"
#include "programrun.h"

#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include <algorithm>

namespace {

constexpr qint64 Mbit = 1000 * 1000 / 8; // bytes per second

// What of bwcd's is in a namespace: its qdiscs and its download devices.
QByteArray oursIn(const QString& netns)
{
    QByteArray qdiscs, links;
    NetnsLab::run({"tc", "-n", netns, "qdisc", "show"}, &qdiscs);
    NetnsLab::run({"ip", "-n", netns, "-o", "link", "show"}, &links);
    QByteArray ours;
    for (const QByteArray& line : (qdiscs + links).split('\n')) {
        if (line.contains("b0c1:") || line.contains("b0c2:") || line.contains("bwcifb"))
            ours += line + '\n';
    }
    return ours;
}

// bwcd's download devices in a namespace.
int downloadDevicesIn(const QString& netns)
{
    QByteArray links;
    NetnsLab::run({"ip", "-n", netns, "-o", "link", "show", "type", "ifb"}, &links);
    return int(links.count("bwcifb"));
}

} // namespace

class TestContainerDaemon : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cappedThroughBwcctl_data();
    void cappedThroughBwcctl();
    void treesAcrossCrashAndStop();
    void treesInAnEmptiedContainer();

private:
    // Starts bwcd governing the lab's cgroup from the host namespace.
    bool startDaemon(DaemonProcess* bwcd);

    std::unique_ptr<NetnsLab> m_lab;
    QTemporaryDir m_dir;
};

void TestContainerDaemon::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("needs root");
    if (QStandardPaths::findExecutable("iperf3").isEmpty())
        QSKIP("needs iperf3");
    m_lab = std::make_unique<NetnsLab>(NetnsLab::Topology::Routed);
    QVERIFY2(m_lab->error().isEmpty(), qPrintable(m_lab->error()));
    QVERIFY(m_dir.isValid());
}

void TestContainerDaemon::cleanup()
{
    QFile::remove(m_dir.filePath("state.json"));
}

bool TestContainerDaemon::startDaemon(DaemonProcess* bwcd)
{
    bwcd->environment.insert("BWC_LINUX_CGROUP", m_lab->cgroupRoot());
    bwcd->environment.insert("BWC_LINUX_NETNS", "/run/netns/" + m_lab->hostNetns());
    return bwcd->start(m_dir.filePath("state.json"), {"--backend", "linux"});
}

void TestContainerDaemon::cappedThroughBwcctl_data()
{
    QTest::addColumn<bool>("download");
    QTest::addColumn<bool>("udp");
    QTest::addColumn<qint64>("cap");
    // What forwarding used to let through uncapped.
    QTest::newRow("tcp download") << true << false << 20 * Mbit;
    QTest::newRow("udp upload") << false << true << 10 * Mbit;
}

// The container's program appears in bwcctl's list, and a cap set then holds
// on its running transfer.
void TestContainerDaemon::cappedThroughBwcctl()
{
    QFETCH(bool, download);
    QFETCH(bool, udp);
    QFETCH(qint64, cap);
    DaemonProcess bwcd;
    QVERIFY(startDaemon(&bwcd));
    const auto stop = qScopeGuard([&] { bwcd.terminate(SIGTERM); });
    QVERIFY2(oursIn(m_lab->appNetns()).isEmpty(), "no rule needs a tree yet");

    IperfRun::Options options;
    options.download = download;
    options.udp = udp;
    options.udpOffered = quint64(cap) * 4;
    options.seconds = 12;
    if (!udp)
        options.blockBytes = int(cap / 64);
    IperfRun run(m_lab.get(), options);
    QVERIFY2(run.start(), qPrintable(run.error()));
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(ProgramRun::bwcctl(bwcd.port(), {"apps"}).out.contains("iperf3"),
                             10000);
    const QString rate = QString::number(cap / Mbit) + QLatin1Char('M');
    QCOMPARE(
        ProgramRun::bwcctl(bwcd.port(), {"limit", "iperf3", download ? "down" : "up", rate}).code,
        0);
    // The container's tree comes with bwcd's next look at its namespaces.
    const QByteArray tree = download ? "b0c2:" : "b0c1:";
    QTRY_VERIFY_WITH_TIMEOUT(oursIn(m_lab->appNetns()).contains(tree), 5000);
    // The seconds after the one the cap came in (its queue drained); not the last.
    const int first = int(clock.elapsed() / 1000) + 2;
    QVERIFY2(run.finish(), qPrintable(run.error()));
    QVERIFY2(options.seconds - 1 - first >= 3,
             qPrintable(QStringLiteral("capped from second %1").arg(first)));
    const IperfRun::CapFit held = run.capFit(double(cap), first);
    qInfo("%s: %s", QTest::currentDataTag(), qPrintable(held.text()));
    QVERIFY2(held.held(), qPrintable(held.text()));
    QCOMPARE(bwcd.terminate(SIGTERM), 0);
    QCOMPARE(oursIn(m_lab->appNetns()), QByteArray());
}

// Killed, bwcd leaves its trees in the container's namespace; the next one
// puts its own in their place (one download device per device, the cap as
// before), or removes them when no rule needs them, and a clean stop leaves
// nothing there.
void TestContainerDaemon::treesAcrossCrashAndStop()
{
    // The container lives on between the two runs of bwcd.
    QProcess* resident = m_lab->start(m_lab->appNetns(), 1, {"sleep", "600"});
    const auto stopResident = qScopeGuard([resident] { resident->kill(); });
    const qint64 cap = 20 * Mbit;
    IperfRun::Options options;
    options.download = true;
    options.blockBytes = int(cap / 64);
    options.seconds = 6;
    {
        DaemonProcess bwcd;
        QVERIFY(startDaemon(&bwcd));
        IperfRun run(m_lab.get(), options);
        QVERIFY2(run.start(), qPrintable(run.error()));
        const auto end = qScopeGuard([&] { run.abort(); });
        QTRY_VERIFY_WITH_TIMEOUT(ProgramRun::bwcctl(bwcd.port(), {"apps"}).out.contains("iperf3"),
                                 10000);
        QCOMPARE(ProgramRun::bwcctl(bwcd.port(), {"limit", "iperf3", "down", "20M"}).code, 0);
        QTRY_VERIFY_WITH_TIMEOUT(oursIn(m_lab->appNetns()).contains("bwcifb"), 5000);
        bwcd.terminate(SIGKILL);
    }
    const QByteArray left = oursIn(m_lab->appNetns());
    QVERIFY2(left.contains("bwcifb") && left.contains("b0c2:"), left.constData());

    DaemonProcess bwcd;
    QVERIFY(startDaemon(&bwcd));
    options.seconds = 5;
    IperfRun again(m_lab.get(), options);
    QVERIFY2(again.start() && again.finish(), qPrintable(again.error()));
    // From the first second: the container is known before the transfer starts.
    const IperfRun::CapFit held = again.capFit(double(cap));
    const double firstSecond = again.capFit(double(cap), 0, 1).whole;
    qInfo("after a restart: first second %.3f, then %s", firstSecond, qPrintable(held.text()));
    QVERIFY2(held.held() && firstSecond <= 1.10, qPrintable(held.text()));
    QCOMPARE(downloadDevicesIn(m_lab->appNetns()), 1);
    bwcd.terminate(SIGKILL);
    QVERIFY(!oursIn(m_lab->appNetns()).isEmpty());

    // Started again without the rule, the trees it has no use for go too.
    QFile::remove(m_dir.filePath("state.json"));
    DaemonProcess unruled;
    QVERIFY(startDaemon(&unruled));
    QCOMPARE(oursIn(m_lab->appNetns()), QByteArray());
    QCOMPARE(unruled.terminate(SIGTERM), 0);
    QCOMPARE(oursIn(m_lab->appNetns()), QByteArray());
}

// Killed while it shaped a container whose processes then all ended, bwcd
// leaves its trees in a namespace that only the container's runtime keeps
// (here its mount under /run/netns); the next one removes them, though no
// process leads it there.
void TestContainerDaemon::treesInAnEmptiedContainer()
{
    QProcess* resident = m_lab->start(m_lab->appNetns(), 1, {"sleep", "600"});
    const auto stopResident = qScopeGuard([resident] { resident->kill(); });
    {
        DaemonProcess bwcd;
        QVERIFY(startDaemon(&bwcd));
        // A maximum needs trees wherever the governed programs live.
        QCOMPARE(ProgramRun::bwcctl(bwcd.port(), {"globals", "--down", "20M"}).code, 0);
        QTRY_VERIFY_WITH_TIMEOUT(oursIn(m_lab->appNetns()).contains("bwcifb"), 5000);
        bwcd.terminate(SIGKILL);
    }
    resident->kill();
    QVERIFY(resident->waitForFinished());
    const QByteArray left = oursIn(m_lab->appNetns());
    QVERIFY2(left.contains("bwcifb") && left.contains("b0c2:"), left.constData());

    QFile::remove(m_dir.filePath("state.json"));
    DaemonProcess bwcd;
    QVERIFY(startDaemon(&bwcd));
    QCOMPARE(oursIn(m_lab->appNetns()), QByteArray());
    QCOMPARE(bwcd.terminate(SIGTERM), 0);
}

QTEST_GUILESS_MAIN(TestContainerDaemon)
#include "tst_containerdaemon.moc"
