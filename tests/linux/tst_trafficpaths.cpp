#include "linuxbackend.h"
#include "netlab.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

constexpr double Tolerance = 0.02;
constexpr int PeerPort = 5301;

enum Compare
{
    Up = 1,   // what the program sent, against what the peer's input counted
    Down = 2, // what it received, against what the peer's output counted
    Both = 3,
    Local = 4,  // its local figures, against its namespace's loopback counters
    Frames = 8, // with Up and Down: against the peer device's counters of raw frames
};

// The peer's side counts what crossed the veth at the IP layer, headers
// included, which is the layer bwcd counts at. Neighbour discovery is the
// kernel's, never a program's.
const char* PeerCounters = R"(table inet bwcpaths {
    counter up {}
    counter down {}
    chain input {
        type filter hook input priority 0; policy accept;
        icmpv6 type { nd-neighbor-solicit, nd-neighbor-advert, nd-router-solicit, nd-router-advert, mld-listener-report, mld2-listener-report } accept
        ip saddr { %1, %3 } counter name up
        ip6 saddr %2 counter name up
    }
    chain output {
        type filter hook output priority 0; policy accept;
        icmpv6 type { nd-neighbor-solicit, nd-neighbor-advert, nd-router-solicit, nd-router-advert, mld-listener-report, mld2-listener-report } accept
        ip daddr { %1, %3 } counter name down
        ip6 daddr %2 counter name down
    }
}
)";
// Frames of packet sockets, which bwcd counts whole (link header included),
// as the peer's device passes them. At the ingress hook the Ethernet header
// is already pulled, so the comparison adds it back per packet; at the egress
// hook the frame is whole.
const char* FrameCounters = R"(table netdev bwcframes {
    counter up {}
    counter down {}
    chain in { type filter hook ingress device "%1" priority 0; policy accept; ether type 0x88b5 counter name up; }
    chain out { type filter hook egress device "%1" priority 0; policy accept; ether type 0x88b5 counter name down; }
}
)";
constexpr int EthernetHeader = 14;
const char* LoopbackCounters = R"(table inet bwcpaths {
    counter out {}
    counter in {}
    chain output { type filter hook output priority 0; policy accept; oif "lo" counter name out; }
    chain input { type filter hook input priority 0; policy accept; iif "lo" counter name in; }
}
)";

struct Sums
{
    double sent = 0; // rates times the intervals they are of
    double received = 0;
    double localSent = 0;
    double localReceived = 0;
    int samples = 0;
};

} // namespace

// Each path of traffic by a program that starts under a name of its own,
// moves a known amount and ends: what bwcd reports for it against the bytes
// a peer in another network namespace counted, and its reported rates
// against its totals.
class TestTrafficPaths : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void paths_data();
    void paths();
    void captureCopies_data();
    void captureCopies();
    void otherKernels();

private:
    QString programCopy(const QString& name);
    bool loadCounters(NetLab::Side side, const QString& rules, QString* error);
    QHash<QString, qint64> counters(NetLab::Side side);
    void onRates();

    NetLab m_lab;
    QTemporaryDir m_programs;
    QScopedPointer<LinuxBackend> m_backend;
    QHash<QString, Sums> m_sums; // by application id
    QSet<QString> m_over;
};

bool TestTrafficPaths::loadCounters(NetLab::Side side, const QString& rules, QString* error)
{
    const QString file =
        m_programs.filePath(QStringLiteral("counters-%1-%2.nft").arg(int(side)).arg(qHash(rules)));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(rules.toUtf8()) < 0)
        return false;
    out.close();
    return NetLab::run(QStringLiteral("nsenter"),
                       {"--net=" + m_lab.netnsPath(side), "nft", "-f", file}, error) == 0;
}

QHash<QString, qint64> TestTrafficPaths::counters(NetLab::Side side)
{
    QString output;
    NetLab::run(QStringLiteral("nsenter"),
                {"--net=" + m_lab.netnsPath(side), "nft", "-j", "list", "counters"}, &output);
    QHash<QString, qint64> bytes;
    const QJsonArray items = QJsonDocument::fromJson(output.toUtf8())["nftables"].toArray();
    for (const QJsonValue& item : items) {
        const QJsonObject counter = item["counter"].toObject();
        const QString table = counter["table"].toString();
        const QString name = counter["name"].toString();
        if (table == QLatin1String("bwcpaths")) {
            bytes.insert(name, counter["bytes"].toInteger());
        } else if (table == QLatin1String("bwcframes")) {
            const qint64 header = name == QLatin1String("up") ? EthernetHeader : 0;
            bytes.insert(QStringLiteral("frames-") + name,
                         counter["bytes"].toInteger() + header * counter["packets"].toInteger());
        }
    }
    return bytes;
}

void TestTrafficPaths::initTestCase()
{
    const QString unavailable = NetLab::unavailable();
    if (!unavailable.isEmpty())
        QSKIP(qPrintable(unavailable));
    for (const char* tool : {"nft", "ethtool"}) {
        if (NetLab::run(QLatin1String(tool), {"--version"}) != 0)
            QSKIP(qPrintable(QStringLiteral("needs %1").arg(QLatin1String(tool))));
    }
    QVERIFY(m_programs.isValid());
    QString error;
    QVERIFY2(m_lab.setUp(&error), qPrintable(error));
    QVERIFY2(m_lab.setUpRouted(&error), qPrintable(error));
    // Real packets on the veth: each one counted by the peer as it was sent.
    for (NetLab::Side side : {NetLab::A, NetLab::B}) {
        QVERIFY2(NetLab::run(QStringLiteral("nsenter"),
                             {"--net=" + m_lab.netnsPath(side), "ethtool", "-K", m_lab.netns(side),
                              "tso", "off", "gso", "off", "gro", "off"},
                             &error) == 0,
                 qPrintable(error));
    }
    // The peer's TCP sends packets of one segment each: its output counters
    // then count every header that crosses, as the program's counters do.
    QVERIFY2(NetLab::run(QStringLiteral("ip"),
                         {"-n", m_lab.netns(NetLab::B), "link", "set", m_lab.netns(NetLab::B),
                          "gso_max_segs", "1"},
                         &error) == 0,
             qPrintable(error));
    QVERIFY2(loadCounters(NetLab::B,
                          QString::fromLatin1(PeerCounters)
                              .arg(m_lab.address(NetLab::A, false), m_lab.address(NetLab::A, true),
                                   m_lab.address(NetLab::C, false)),
                          &error),
             qPrintable(error));
    QVERIFY2(loadCounters(NetLab::B, QString::fromLatin1(FrameCounters).arg(m_lab.netns(NetLab::B)),
                          &error),
             qPrintable(error));
    QVERIFY2(loadCounters(NetLab::A, QString::fromLatin1(LoopbackCounters), &error),
             qPrintable(error));
    QProcess* peer = m_lab.start(NetLab::B, false, QStringLiteral(BWCPATH_PATH),
                                 {"peer", QString::number(PeerPort)});
    QVERIFY(peer->waitForReadyRead(10000) && peer->readLine().startsWith("ready"));
    QProcess* framePeer = m_lab.start(NetLab::B, false, QStringLiteral(BWCPATH_PATH),
                                      {"framepeer", m_lab.netns(NetLab::B)});
    QVERIFY(framePeer->waitForReadyRead(10000) && framePeer->readLine().startsWith("ready"));

    m_backend.reset(new LinuxBackend({m_lab.cgroup(), m_lab.netnsPath(NetLab::A), 1000}));
    QVERIFY2(m_backend->start(&error), qPrintable(error));
    connect(m_backend.data(), &LinuxBackend::ratesUpdated, this, &TestTrafficPaths::onRates);
    connect(m_backend.data(), &Backend::applicationStopped, this,
            [this](const QString& id) { m_over.insert(id); });
}

void TestTrafficPaths::cleanupTestCase()
{
    m_backend.reset();
    m_lab.tearDown();
    const QStringList left = NetLab::leftovers();
    QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char('\n'))));
}

// Every reported sample, as a client that never misses one would add them up.
void TestTrafficPaths::onRates()
{
    const double seconds = double(m_backend->accounting().intervalMs()) / 1000;
    for (const Backend::Rate& rate : m_backend->rates()) {
        Sums& sums = m_sums[rate.id];
        const AppAccounting::Rates local = m_backend->accounting().rates(rate.id);
        sums.sent += rate.sent * seconds;
        sums.received += rate.received * seconds;
        sums.localSent += local.localSent * seconds;
        sums.localReceived += local.localReceived * seconds;
        ++sums.samples;
    }
}

void TestTrafficPaths::paths_data()
{
    QTest::addColumn<QStringList>("args"); // of bwcpath; HOST4, HOST6 and PORT are filled in
    QTest::addColumn<int>("compare");
    // Under 100 ms: the program may end before bwcd has resolved it.
    QTest::addColumn<bool>("quick");
    QTest::addColumn<int>("side"); // where the program runs

    const QStringList tcp4{"tcp", "HOST4", "PORT"};
    const QStringList udp4{"udp", "HOST4", "PORT"};
    QTest::newRow("tcp-up") << tcp4 + QStringList{"8000000", "0"} << int(Both) << false
                            << int(NetLab::A);
    QTest::newRow("tcp-down") << tcp4 + QStringList{"0", "8000000"} << int(Both) << false
                              << int(NetLab::A);
    QTest::newRow("tcp-both") << tcp4 + QStringList{"4000000", "4000000"} << int(Both) << false
                              << int(NetLab::A);
    QTest::newRow("tcp6-both") << QStringList{"tcp", "HOST6", "PORT", "4000000", "1000000"}
                               << int(Both) << false << int(NetLab::A);
    QTest::newRow("udp-up") << udp4 + QStringList{"4000000", "0", "1400"} << int(Both) << false
                            << int(NetLab::A);
    QTest::newRow("udp-down") << udp4 + QStringList{"0", "4000000", "1400"} << int(Both) << false
                              << int(NetLab::A);
    QTest::newRow("udp-both") << udp4 + QStringList{"2000000", "2000000", "1400"} << int(Both)
                              << false << int(NetLab::A);
    QTest::newRow("udp6-both") << QStringList{"udp", "HOST6", "PORT", "2000000", "2000000", "1200"}
                               << int(Both) << false << int(NetLab::A);
    QTest::newRow("sendfile") << tcp4 + QStringList{"8000000", "0", "sendfile"} << int(Both)
                              << false << int(NetLab::A);
    QTest::newRow("splice") << tcp4 + QStringList{"8000000", "0", "splice"} << int(Both) << false
                            << int(NetLab::A);
    QTest::newRow("sendmmsg-recvmmsg") << udp4 + QStringList{"2000000", "2000000", "1400", "mmsg"}
                                       << int(Both) << false << int(NetLab::A);
    QTest::newRow("io_uring-send-recv") << tcp4 + QStringList{"4000000", "4000000", "uring"}
                                        << int(Both) << false << int(NetLab::A);
    QTest::newRow("icmp-echo") << QStringList{"icmp", "HOST4", "500", "1000"} << int(Both) << false
                               << int(NetLab::A);
    // The peer's kernel answers with "protocol unreachable", which no
    // socket of the program receives: only what it sent is its own.
    QTest::newRow("raw-ip-253") << QStringList{"raw", "HOST4", "253", "2000", "1000"} << int(Up)
                                << false << int(NetLab::A);
    QTest::newRow("tcp-many-short")
        << QStringList{"tcpmany", "HOST4", "PORT", "200", "10000", "1000"} << int(Both) << false
        << int(NetLab::A);
    QTest::newRow("udp-small-flood")
        << udp4 + QStringList{"320000", "0", "16"} << int(Both) << false << int(NetLab::A);
    // A drip of 5 s rather than 20: the accounting does not care how long.
    QTest::newRow("slow-drip") << QStringList{"drip", "HOST4", "PORT", "5"} << int(Both) << false
                               << int(NetLab::A);
    QTest::newRow("quick-tcp") << tcp4 + QStringList{"500000", "500000"} << int(Both) << true
                               << int(NetLab::A);
    QTest::newRow("quick-udp") << udp4 + QStringList{"100000", "100000", "1000"} << int(Both)
                               << true << int(NetLab::A);
    // Its own network namespace, routed to the peer through A.
    QTest::newRow("routed-namespace")
        << tcp4 + QStringList{"4000000", "1000000"} << int(Both) << false << int(NetLab::C);
    // A packet socket: no cgroup program sees it, neither do the peer's
    // IP counters.
    QTest::newRow("packet-frames") << QStringList{"frames", "DEVICE", "1000", "1000"}
                                   << int(Both | Frames) << false << int(NetLab::A);
    // Read without a system call, as capture libraries read by default.
    QTest::newRow("packet-frames-ring") << QStringList{"frames", "DEVICE", "500", "1000", "ring"}
                                        << int(Both | Frames) << false << int(NetLab::A);
    QTest::newRow("packet-frames-ring-v2")
        << QStringList{"frames", "DEVICE", "500", "1000", "ring2"} << int(Both | Frames) << false
        << int(NetLab::A);
    QTest::newRow("loopback-only")
        << QStringList{"loop", "8000000"} << int(Local) << false << int(NetLab::A);
}

// bwcpath under a name of its own, so that bwcd tells it apart.
QString TestTrafficPaths::programCopy(const QString& name)
{
    const QString program = m_programs.filePath(QStringLiteral("bwcpath-") + name);
    if (!QFile::copy(QStringLiteral(BWCPATH_PATH), program) ||
        !QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return QString();
    return program;
}

void TestTrafficPaths::paths()
{
    QFETCH(QStringList, args);
    QFETCH(int, compare);
    QFETCH(bool, quick);
    QFETCH(int, side);
    const QString program = programCopy(QLatin1String(QTest::currentDataTag()));
    QVERIFY(!program.isEmpty());
    args.replaceInStrings(QStringLiteral("HOST4"), m_lab.address(NetLab::B, false));
    args.replaceInStrings(QStringLiteral("HOST6"), m_lab.address(NetLab::B, true));
    args.replaceInStrings(QStringLiteral("PORT"), QString::number(PeerPort));
    args.replaceInStrings(QStringLiteral("DEVICE"), m_lab.netns(NetLab::A));

    // The others stay a moment after their traffic, as most programs do.
    qputenv("BWCPATH_LINGER_MS", quick ? "0" : "300");
    const QHash<QString, qint64> peerBefore = counters(NetLab::B);
    const QHash<QString, qint64> loopBefore = counters(NetLab::A);
    QProcess* process = m_lab.start(NetLab::Side(side), true, program, args);
    QElapsedTimer lived;
    lived.start();
    QVERIFY(process->waitForStarted(5000));
    // The backend needs the event loop while the program runs.
    QTRY_VERIFY_WITH_TIMEOUT(process->state() == QProcess::NotRunning, 60000);
    const qint64 lifetimeMs = lived.elapsed();
    if (process->exitCode() == 3)
        QSKIP("bwcpath was built without liburing (liburing-dev)");
    QCOMPARE(process->exitCode(), 0);

    const QString id = m_backend->idForPath(program);
    QVERIFY2(!id.isEmpty(), "the program was never seen");
    // Its final interval reported, then it is over.
    QTRY_VERIFY_WITH_TIMEOUT(m_over.contains(id), 10000);
    const QHash<QString, qint64> peer = counters(NetLab::B);
    const QHash<QString, qint64> loop = counters(NetLab::A);
    const AppAccounting::Bytes total = m_backend->accounting().total(id);
    const Sums sums = m_sums.value(id);
    qInfo("%s lived %lld ms: sent %llu received %llu local %llu/%llu; peer in %lld out %lld, "
          "loopback out %lld in %lld; %d samples",
          QTest::currentDataTag(), lifetimeMs, total.sent, total.received, total.localSent,
          total.localReceived, peer["up"] - peerBefore["up"], peer["down"] - peerBefore["down"],
          loop["out"] - loopBefore["out"], loop["in"] - loopBefore["in"], sums.samples);

    const auto near = [](quint64 reported, qint64 reference) {
        return std::abs(double(reported) - double(reference)) <= Tolerance * double(reference);
    };
    const QString up = compare & Frames ? QStringLiteral("frames-up") : QStringLiteral("up");
    const QString down = compare & Frames ? QStringLiteral("frames-down") : QStringLiteral("down");
    if (compare & Frames) {
        qInfo("frames: peer in %lld out %lld", peer[up] - peerBefore[up],
              peer[down] - peerBefore[down]);
        // Nothing of it went through the IP layer.
        QCOMPARE(peer["up"] - peerBefore["up"], 0);
        QCOMPARE(peer["down"] - peerBefore["down"], 0);
    }
    if (compare & Up)
        QVERIFY(near(total.sent, peer[up] - peerBefore[up]));
    if (compare & Down)
        QVERIFY(near(total.received, peer[down] - peerBefore[down]));
    if (compare & Local) {
        QVERIFY(total.localSent > 0);
        QVERIFY(near(total.localSent, loop["out"] - loopBefore["out"]));
        QVERIFY(near(total.localReceived, loop["in"] - loopBefore["in"]));
        // Never network traffic.
        QCOMPARE(total.sent + total.received, quint64(0));
    } else {
        QVERIFY(total.sent + total.received > 0);
        QCOMPARE(total.localSent + total.localReceived, quint64(0));
    }
    // The samples a client saw add up to the totals: a rate loses less than
    // a byte of its interval.
    const double slack = 2.0 * std::max(sums.samples, 1);
    QVERIFY2(std::abs(sums.sent - double(total.sent)) <= slack &&
                 std::abs(sums.received - double(total.received)) <= slack &&
                 std::abs(sums.localSent - double(total.localSent)) <= slack &&
                 std::abs(sums.localReceived - double(total.localReceived)) <= slack,
             qPrintable(QStringLiteral("samples add up to %1/%2 local %3/%4")
                            .arg(sums.sent, 0, 'f', 0)
                            .arg(sums.received, 0, 'f', 0)
                            .arg(sums.localSent, 0, 'f', 0)
                            .arg(sums.localReceived, 0, 'f', 0)));
}

void TestTrafficPaths::captureCopies_data()
{
    QTest::addColumn<QString>("way");      // how the capture tool reads
    QTest::addColumn<QStringList>("args"); // of the program it watches
    QTest::addColumn<bool>("frames");      // that program's traffic is raw frames

    const QStringList tcp{"tcp", "HOST4", "PORT", "2000000", "2000000"};
    const QStringList frames{"frames", "DEVICE", "300", "1000"};
    QTest::newRow("ring-tcp") << "ring" << tcp << false;
    QTest::newRow("ring-frames") << "ring" << frames << true;
    QTest::newRow("recv-tcp") << "recv" << tcp << false;
    QTest::newRow("recv-frames") << "recv" << frames << true;
}

// A capture tool gets a copy of every frame the device passes, what this
// machine sends among them; the copies are the traffic of the programs that
// sent and received the frames, counted once, under them.
void TestTrafficPaths::captureCopies()
{
    QFETCH(QString, way);
    QFETCH(QStringList, args);
    QFETCH(bool, frames);
    const QString tag = QLatin1String(QTest::currentDataTag());
    const QString sniffer = programCopy(QStringLiteral("sniff-") + tag);
    const QString program = programCopy(QStringLiteral("sniffed-") + tag);
    QVERIFY(!sniffer.isEmpty() && !program.isEmpty());
    args.replaceInStrings(QStringLiteral("HOST4"), m_lab.address(NetLab::B, false));
    args.replaceInStrings(QStringLiteral("PORT"), QString::number(PeerPort));
    args.replaceInStrings(QStringLiteral("DEVICE"), m_lab.netns(NetLab::A));
    qputenv("BWCPATH_LINGER_MS", "0");

    QProcess* capture =
        m_lab.start(NetLab::A, true, sniffer, {"sniff", m_lab.netns(NetLab::A), way});
    QVERIFY(capture->waitForReadyRead(10000) && capture->readLine().startsWith("ready"));
    const QHash<QString, qint64> before = counters(NetLab::B);
    QProcess* process = m_lab.start(NetLab::A, true, program, args);
    QTRY_VERIFY_WITH_TIMEOUT(process->state() == QProcess::NotRunning, 60000);
    QCOMPARE(process->exitCode(), 0);
    capture->closeWriteChannel();
    QTRY_VERIFY_WITH_TIMEOUT(capture->state() == QProcess::NotRunning, 10000);
    QCOMPARE(capture->exitCode(), 0);
    const QByteArray report = capture->readAll().trimmed();
    QVERIFY2(report.startsWith("captured "), report.constData());
    const qint64 captured = report.mid(9).toLongLong();

    const QString programId = m_backend->idForPath(program);
    const QString snifferId = m_backend->idForPath(sniffer);
    QVERIFY(!programId.isEmpty() && !snifferId.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(m_over.contains(programId) && m_over.contains(snifferId), 10000);
    const QHash<QString, qint64> peer = counters(NetLab::B);
    const QString up = frames ? QStringLiteral("frames-up") : QStringLiteral("up");
    const QString down = frames ? QStringLiteral("frames-down") : QStringLiteral("down");
    const qint64 wireUp = peer[up] - before[up];
    const qint64 wireDown = peer[down] - before[down];
    const AppAccounting::Bytes watched = m_backend->accounting().total(programId);
    const AppAccounting::Bytes watcher = m_backend->accounting().total(snifferId);
    qInfo("%s: captured %lld; program sent %llu received %llu, peer in %lld out %lld; capture "
          "tool sent %llu received %llu",
          qPrintable(tag), captured, watched.sent, watched.received, wireUp, wireDown, watcher.sent,
          watcher.received);
    // It did see much of the traffic (a capture tool that reads too slowly
    // loses some).
    QVERIFY(captured > (wireUp + wireDown) / 4);
    QCOMPARE(watcher.sent + watcher.received, quint64(0));
    QVERIFY(std::abs(double(watched.sent) - double(wireUp)) <= Tolerance * double(wireUp));
    QVERIFY(std::abs(double(watched.received) - double(wireDown)) <= Tolerance * double(wireDown));
}

// The kernel of another network namespace sends by itself (neighbour
// advertisements, resets): none of it is this machine's traffic. Its own
// sockets belong to the cgroup of the process that made the namespace, as a
// container's kernel's do to the root cgroup bwcd watches.
void TestTrafficPaths::otherKernels()
{
    const QString other = m_lab.netns(NetLab::B) + QLatin1Char('k');
    const QString link = m_lab.netns(NetLab::A) + QLatin1Char('k');
    const auto removed = qScopeGuard([&] {
        NetLab::run(QStringLiteral("ip"), {"netns", "del", other});
    });
    const LinuxBackend::Totals before = m_backend->totals(LinuxBackend::unattributedId());
    QProcess* maker = m_lab.start(NetLab::A, true, QStringLiteral("ip"), {"netns", "add", other});
    QVERIFY(NetLab::finish(maker));
    const QList<QStringList> steps{
        {"link", "add", link, "netns", m_lab.netns(NetLab::A), "type", "veth", "peer", "name",
         other, "netns", other},
        {"-n", m_lab.netns(NetLab::A), "addr", "add", "fd77:bd::1/64", "dev", link, "nodad"},
        {"-n", other, "addr", "add", "fd77:bd::2/64", "dev", other, "nodad"},
        {"-n", m_lab.netns(NetLab::A), "link", "set", link, "up"},
        {"-n", other, "link", "set", other, "up"},
    };
    for (const QStringList& step : steps) {
        QString output;
        QVERIFY2(NetLab::run(QStringLiteral("ip"), step, &output) == 0, qPrintable(output));
    }
    // Its kernel answers A's neighbour solicitation, and refuses the
    // connection: the program fails, as it should.
    QProcess* program = m_lab.start(NetLab::A, true, QStringLiteral(BWCPATH_PATH),
                                    {"tcp", "fd77:bd::2", QString::number(PeerPort), "1000", "0"});
    QByteArray said;
    NetLab::finish(program, &said, 15000);
    QVERIFY2(program->state() == QProcess::NotRunning && program->exitCode() == 1,
             said.constData());
    QSignalSpy read(m_backend.data(), &LinuxBackend::ratesUpdated);
    QVERIFY(read.wait(5000) && read.wait(5000));
    const LinuxBackend::Totals after = m_backend->totals(LinuxBackend::unattributedId());
    qInfo("unattributed: sent %llu received %llu", after.sent - before.sent,
          after.received - before.received);
    QCOMPARE(after.sent, before.sent);
    QCOMPARE(after.received, before.received);
}

QTEST_GUILESS_MAIN(TestTrafficPaths)
#include "tst_trafficpaths.moc"
