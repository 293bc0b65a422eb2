#include "appidentity.h"
#include "linuxbackend.h"
#include "netlab.h"
#include "pathtext.h"
#include "shapingpolicy.h"
#include "throwawayuser.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

const QString Traffic = QStringLiteral(BWCTRAFFIC_PATH);

// IP bytes of TCP payload in full-sized segments (IPv4, timestamps): what the
// backend counts for what a peer reads.
double onTheWire(qint64 payload)
{
    return double(payload) * 1500.0 / (1500 - 20 - 32);
}

// A program's bytes against what crossed: wide enough for the handshakes, a
// last short segment and segments sent again at less than full size; narrow
// enough that a connection charged to another program, or not counted, fails.
constexpr double AttributionTolerance = 0.02;

// Payload the sink reported so far, over every connection it ended.
class SinkCount
{
public:
    explicit SinkCount(QProcess* sink) : m_sink(sink) {}
    qint64 read()
    {
        m_pending += m_sink->readAllStandardOutput();
        for (int end; (end = m_pending.indexOf('\n')) >= 0;) {
            const QByteArray line = m_pending.left(end);
            m_pending.remove(0, end + 1);
            if (line.startsWith("received "))
                m_total += line.mid(9).split(' ').first().toLongLong();
        }
        return m_total;
    }

private:
    QProcess* m_sink;
    QByteArray m_pending;
    qint64 m_total = 0;
};

bool writeFile(const QByteArray& path, const QByteArray& content, mode_t mode)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, content.constData(), size_t(content.size())) == content.size();
    ::close(fd);
    return written && ::chmod(path.constData(), mode) == 0;
}

} // namespace

// Processes as they really live: short-lived ones, fresh ones of blocked and
// capped programs, processes that fork or exec, and programs that pretend to
// be others, each governed and counted as the program it is from its first
// socket. Between two namespaces, with the backend's programs on a cgroup of
// the test's own.
class TestLinuxIdentity : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void shortLivedProcesses_data();
    void shortLivedProcesses();
    void freshProcessesOfBlockedPrograms_data();
    void freshProcessesOfBlockedPrograms();
    void firstSecondOfCappedProgram();
    void forkAndExec_data();
    void forkAndExec();
    void readByAnotherProgram_data();
    void readByAnotherProgram();
    void posing_data();
    void posing();
    void stalledArguments_data();
    void stalledArguments();
    void lingeringSocket();
    void scriptOnStalledFileSystem();

private:
    bool startBackend(const std::function<void(LinuxBackend::Options*)>& adjust = nullptr);
    void setRules(const QMap<QString, qint32>& uploadMax, qint32 defaultUpload = Limits::NoLimit);
    // A copy of the traffic program under a path no one has run before.
    QString freshCopy(const QString& name);
    // IP bytes the peer's end of the link received so far.
    quint64 peerReceived() const;
    // A counter of the measured side's network stack, as /proc/net/snmp
    // names it ("Tcp", "RetransSegs").
    quint64 stackCounter(const QString& group, const QString& name) const;
    // TCP segments the lab's sending side sent again so far.
    quint64 resentSegments() const
    {
        return stackCounter(QStringLiteral("Tcp"), QStringLiteral("RetransSegs"));
    }
    // IP bytes that crossed the link for a payload sent once, plus the full
    // segments a busy sink made the sender send again since resentBefore: a
    // meter at the sender counts those too.
    double crossed(qint64 payload, quint64 resentBefore) const
    {
        return onTheWire(payload) + 1500.0 * double(resentSegments() - resentBefore);
    }
    QProcess* sink(int port, qint64 rate = 0);

    NetLab m_lab;
    QScopedPointer<LinuxBackend> m_backend;
    QTemporaryDir m_dir;
    int m_copies = 0;
};

void TestLinuxIdentity::initTestCase()
{
    const QString unavailable = NetLab::unavailable();
    if (!unavailable.isEmpty())
        QSKIP(qPrintable(unavailable));
    QString error;
    QVERIFY2(m_lab.setUp(&error), qPrintable(error));
    QVERIFY(m_dir.isValid());
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
}

void TestLinuxIdentity::cleanup()
{
    m_backend.reset();
    m_lab.stopPrograms();
}

void TestLinuxIdentity::cleanupTestCase()
{
    m_backend.reset();
    m_lab.tearDown();
    const QStringList left = NetLab::leftovers();
    QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char('\n'))));
}

bool TestLinuxIdentity::startBackend(const std::function<void(LinuxBackend::Options*)>& adjust)
{
    LinuxBackend::Options options;
    options.cgroup = m_lab.cgroup();
    options.deviceNetns = m_lab.netnsPath(NetLab::A);
    if (adjust)
        adjust(&options);
    m_backend.reset(new LinuxBackend(options));
    QString error;
    if (!m_backend->start(&error)) {
        qWarning("%s", qPrintable(error));
        return false;
    }
    return true;
}

void TestLinuxIdentity::setRules(const QMap<QString, qint32>& uploadMax, qint32 defaultUpload)
{
    ServiceState state;
    state.globalUploadMax = state.globalDownloadMax = Limits::NoLimit;
    state.defaultUploadMax = defaultUpload;
    for (auto it = uploadMax.constBegin(); it != uploadMax.constEnd(); ++it) {
        AppSettings settings;
        settings.path = it.key();
        settings.uploadMax = *it;
        settings.priority = Limits::PriorityHigh; // settings of its own even without a cap
        state.setSettings(LinuxBackend::idFor(it.key()), settings);
    }
    m_backend->setPolicy(ShapingPolicy(state));
}

QString TestLinuxIdentity::freshCopy(const QString& name)
{
    const QString path = m_dir.filePath(QStringLiteral("%1-%2").arg(name).arg(++m_copies));
    QFile::copy(Traffic, path);
    QFile::setPermissions(path, QFile::permissions(Traffic));
    return path;
}

quint64 TestLinuxIdentity::peerReceived() const
{
    QString output;
    NetLab::run(
        QStringLiteral("ip"),
        {"-n", m_lab.netns(NetLab::B), "-s", "-j", "link", "show", "dev", m_lab.netns(NetLab::B)},
        &output);
    const QJsonObject rx = QJsonDocument::fromJson(output.toUtf8())
                               .array()
                               .first()[QLatin1String("stats64")][QLatin1String("rx")]
                               .toObject();
    // Ethernet headers are not part of what the backend counts.
    return quint64(rx["bytes"].toDouble()) - 14 * quint64(rx["packets"].toDouble());
}

quint64 TestLinuxIdentity::stackCounter(const QString& group, const QString& name) const
{
    const QString prefix = group + QLatin1String(": ");
    QString output;
    NetLab::run(QStringLiteral("ip"),
                {"netns", "exec", m_lab.netns(NetLab::A), "cat", "/proc/net/snmp"}, &output);
    const QStringList lines = output.split(QLatin1Char('\n'));
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].startsWith(prefix) || !lines[i + 1].startsWith(prefix))
            continue;
        const int column = lines[i].split(QLatin1Char(' ')).indexOf(name);
        return lines[i + 1].split(QLatin1Char(' ')).value(column).toULongLong();
    }
    return 0;
}

QProcess* TestLinuxIdentity::sink(int port, qint64 rate)
{
    return m_lab.startReady(NetLab::B, false, Traffic,
                            {"sink", QString::number(port), QString::number(rate)}, "ready");
}

void TestLinuxIdentity::shortLivedProcesses_data()
{
    QTest::addColumn<bool>("seenBefore");
    QTest::newRow("a program with settings") << true;
    QTest::newRow("a program never seen before") << false;
}

// A loop of processes that each send 1.5 MB and end at once: every steady
// second of the program's rate against what the peer received.
void TestLinuxIdentity::shortLivedProcesses()
{
    QFETCH(bool, seenBefore);
    const QString program = freshCopy(QStringLiteral("loop"));
    QVERIFY(startBackend());
    if (seenBefore)
        setRules({{program, Limits::NoLimit}});
    QProcess* sinker = sink(5301);
    QVERIFY(sinker);
    SinkCount received(sinker);
    const int seconds = 6;
    const QString loop = QStringLiteral("end=$(( $(date +%s) + %1 )); n=0; "
                                        "while [ $(date +%s) -lt $end ]; do "
                                        "\"$0\" send %2 5301 1500000 > /dev/null || exit 1; "
                                        "n=$((n + 1)); done; echo $n")
                             .arg(seconds)
                             .arg(m_lab.address(NetLab::B, false));
    QList<double> ratios;
    // The sink tells of a connection's bytes once it has ended, and this
    // thread hears of it when it next reads: a second's count may lack the
    // connection open at its end, or hold one the meter counted the second
    // before. Up to one connection's share of the second is the sink's.
    QList<double> lateShares;
    qint64 before = 0;
    QElapsedTimer sinceSample;
    sinceSample.start();
    connect(m_backend.data(), &LinuxBackend::ratesUpdated, this, [&] {
        const qint64 now = received.read();
        const double ms = double(sinceSample.restart());
        const double peerRate = onTheWire(now - before) * 1000.0 / ms;
        before = now;
        quint32 reported = 0;
        for (const Backend::Rate& rate : m_backend->rates())
            reported += rate.id == m_backend->idForPath(program) ? rate.sent : 0;
        if (peerRate > 1e6) {
            ratios.append(reported / peerRate);
            lateShares.append(onTheWire(1500000) * 1000.0 / ms / peerRate);
        }
    });
    const quint64 resentBefore = resentSegments();
    QProcess* looper = m_lab.start(NetLab::A, true, QStringLiteral("sh"), {"-c", loop, program});
    NetLab::finish(looper);
    QCOMPARE(looper->exitCode(), 0);
    const qint64 bytes = looper->readAllStandardOutput().trimmed().toLongLong() * 1500000;
    QVERIFY(bytes > 0);
    QTRY_COMPARE(received.read(), bytes);
    m_backend->poll();
    const double sent = crossed(bytes, resentBefore);
    const QString id = m_backend->idForPath(program);
    QVERIFY2(!id.isEmpty(), "the program is not listed");
    const double counted = double(m_backend->totals(id).sent);
    QStringList perSecond;
    for (double ratio : std::as_const(ratios))
        perSecond << QString::number(ratio, 'f', 3);
    qInfo("counted / sent %.4f; each second %s", counted / sent,
          qPrintable(perSecond.join(QLatin1Char(' '))));
    QVERIFY2(qAbs(counted / sent - 1) < AttributionTolerance,
             qPrintable(QStringLiteral("%1 of %2").arg(counted).arg(sent)));
    QVERIFY(ratios.size() >= seconds - 2);
    // Steady seconds: not the first nor the last.
    for (int i = 1; i < ratios.size() - 1; ++i)
        QVERIFY2(ratios[i] >= 0.95 - lateShares[i],
                 qPrintable(QStringLiteral("second %1: %2, of which the sink may owe %3")
                                .arg(i)
                                .arg(ratios[i])
                                .arg(lateShares[i])));
}

void TestLinuxIdentity::freshProcessesOfBlockedPrograms_data()
{
    QTest::addColumn<bool>("byDefault");
    QTest::newRow("a blocked program") << false;
    QTest::newRow("a program never seen, under a default block") << true;
}

// Each fresh process of a blocked program is refused by the hooks in its own
// system call, whenever its first socket comes after its start: not one packet
// (no SYN, no datagram) reaches IP, so nothing can fail later at a
// retransmission or be dropped on its way out. Allowing it works at once.
void TestLinuxIdentity::freshProcessesOfBlockedPrograms()
{
    QFETCH(bool, byDefault);
    const QString program = freshCopy(QStringLiteral("probe"));
    QVERIFY(startBackend());
    if (byDefault)
        setRules({}, Limits::Blocked);
    else
        setRules({{program, Limits::Blocked}, {Traffic, Limits::NoLimit}});
    QVERIFY(sink(5302));
    const QString peer = m_lab.address(NetLab::B, false);
    const int starts = byDefault ? 20 : 50;
    const quint64 packetsBefore = stackCounter(QStringLiteral("Ip"), QStringLiteral("OutRequests"));
    int slowestUs = 0;
    int slowestUninterruptedUs = 0;
    int mostCpuUs = 0;
    for (int i = 0; i < starts; ++i) {
        const int delayMs = (i * 200) / starts;
        QProcess* probe = m_lab.start(NetLab::A, true, program,
                                      {"probe", peer, "5302", QString::number(delayMs)});
        QByteArray output;
        QVERIFY2(
            NetLab::finish(probe, &output, 10000),
            qPrintable(QStringLiteral(
                           "start %1 (%2 ms): not ended, or failed, after 10 s (a call that waits)")
                           .arg(i)
                           .arg(delayMs)));
        const QString line = QString::fromLatin1(output).trimmed();
        const QStringList words = line.split(QLatin1Char(' '));
        QVERIFY2(words.size() == 12, qPrintable(line));
        const QString where = QStringLiteral("start %1 (%2 ms): %3").arg(i).arg(delayMs).arg(line);
        // Each call: name, errno, wall us, preempted, slept, CPU us.
        for (int call : {0, 6}) {
            QVERIFY2(words[call + 1] == QLatin1String("1"), qPrintable(where)); // EPERM
            // Refused at once: a call that waited (a SYN dropped, a decision
            // put off) sleeps. The CPU it took is the call's own work, while
            // its wall time is the machine's weather as much as the hook's.
            const int us = words[call + 2].toInt();
            const int cpuUs = words[call + 5].toInt();
            QVERIFY2(words[call + 4] == QLatin1String("0"), qPrintable(where));
            QVERIFY2(cpuUs < 1000, qPrintable(where));
            slowestUs = qMax(slowestUs, us);
            if (words[call + 3] == QLatin1String("0"))
                slowestUninterruptedUs = qMax(slowestUninterruptedUs, us);
            mostCpuUs = qMax(mostCpuUs, cpuUs);
        }
    }
    QCOMPARE(stackCounter(QStringLiteral("Ip"), QStringLiteral("OutRequests")), packetsBefore);
    qInfo("slowest refusal %d us, %d us of those the scheduler left alone; most CPU %d us",
          slowestUs, slowestUninterruptedUs, mostCpuUs);
    // A socket the process made while it ran another program, before bwcd
    // could look at it.
    QProcess* handed = m_lab.start(NetLab::A, true, Traffic, {"handprobe", program, peer, "5302"});
    handed->waitForFinished(10000);
    QCOMPARE(handed->readAllStandardOutput().trimmed(), QByteArray("sendto 1"));
    setRules({});
    QProcess* probe = m_lab.start(NetLab::A, true, program, {"probe", peer, "5302", "0"});
    QByteArray allowed;
    NetLab::finish(probe, &allowed, 10000);
    QVERIFY2(allowed.startsWith("connect 0 ") && allowed.contains(" sendto 0 "),
             allowed.constData());
}

// A fresh process of a capped program is held to the cap from its first packet.
void TestLinuxIdentity::firstSecondOfCappedProgram()
{
    const QString program = freshCopy(QStringLiteral("capped"));
    QVERIFY(startBackend());
    const qint64 cap = 1250000; // bytes per second
    setRules({{program, qint32(cap)}});
    QVERIFY(sink(5303));
    QList<QPair<qint64, quint64>> samples; // ms, peer bytes
    QElapsedTimer clock;
    clock.start();
    samples.append({0, peerReceived()});
    QProcess* sender = m_lab.start(NetLab::A, true, program,
                                   {"send", m_lab.address(NetLab::B, false), "5303", "5000000"});
    int started = -1;
    while (clock.elapsed() < 6000 && sender->state() != QProcess::NotRunning) {
        QTest::qWait(20);
        samples.append({clock.elapsed(), peerReceived()});
        if (started < 0 && samples.last().second > samples[samples.size() - 2].second + 20000)
            started = int(samples.size()) - 2;
        if (started >= 0 && samples.last().first - samples[started].first >= 1000)
            break;
    }
    QVERIFY2(started >= 0, "nothing was sent");
    const auto& from = samples[started];
    const auto& to = samples.last();
    const double rate = double(to.second - from.second) * 1000.0 / double(to.first - from.first);
    qInfo("first %lld ms: %.0f bytes per second, cap %lld", to.first - from.first, rate, cap);
    QVERIFY2(rate <= 1.10 * double(cap), qPrintable(QString::number(rate)));
}

void TestLinuxIdentity::forkAndExec_data()
{
    QTest::addColumn<QStringList>("command"); // {program, args...}; %P is the peer
    QTest::addColumn<QString>("owner");
    const QString dd = QFileInfo(QStringLiteral("/usr/bin/dd")).canonicalFilePath();
    QTest::newRow("fork without exec") << QStringList{Traffic, "forksend"} << Traffic;
    QTest::newRow("exec without fork")
        << QStringList{"sh", "-c", "exec \"$0\" send \"$@\"", Traffic} << Traffic;
    // Its socket, made before the exec, is the new program's from its first
    // byte on: a short transfer is over before user space hears of the exec.
    QTest::newRow("a process that becomes another program")
        << QStringList{Traffic, "execsend"} << dd;
    QTest::newRow("a socket handed to a child that runs another program")
        << QStringList{Traffic, "forkexec"} << dd;
}

void TestLinuxIdentity::forkAndExec()
{
    QFETCH(QStringList, command);
    QFETCH(QString, owner);
    QVERIFY(startBackend());
    // Known from its exec, so that its tag is a number of its own.
    setRules({{Traffic, Limits::NoLimit}});
    QProcess* sinker = sink(5304);
    QVERIFY(sinker);
    SinkCount received(sinker);
    const qint64 bytes = 16 * 65536 * 10;
    const quint64 resentBefore = resentSegments();
    QProcess* process = m_lab.start(NetLab::A, true, command.first(),
                                    command.mid(1) + QStringList{m_lab.address(NetLab::B, false),
                                                                 "5304", QString::number(bytes)});
    // The backend hears of nothing until the process has ended: its program
    // is the kernel's to know.
    QVERIFY(process->waitForFinished(60000));
    QCOMPARE(process->exitCode(), 0);
    QTRY_COMPARE(received.read(), bytes);
    m_backend->poll();
    const double sent = crossed(bytes, resentBefore);
    const double counted = double(m_backend->totals(m_backend->idForPath(owner)).sent);
    QVERIFY2(qAbs(counted / sent - 1) < AttributionTolerance,
             qPrintable(QStringLiteral("%1 of %2 under %3").arg(counted).arg(sent).arg(owner)));
}

void TestLinuxIdentity::readByAnotherProgram_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("a process that becomes another program") << "execrecv";
    QTest::newRow("a socket handed to a child that runs another program") << "forkexecrecv";
}

// A socket the new program only reads from is its own from its first read:
// a download of a few milliseconds is over before user space hears of the
// exec. What arrived before that read (the kernel's first window, at most)
// stays the old program's.
void TestLinuxIdentity::readByAnotherProgram()
{
    QFETCH(QString, mode);
    QVERIFY(startBackend());
    setRules({{Traffic, Limits::NoLimit}});
    const qint64 bytes = 16 * 65536 * 10;
    QProcess* source = m_lab.startReady(NetLab::B, false, Traffic,
                                        {"source", "5305", QString::number(bytes)}, "ready");
    QVERIFY(source);
    QProcess* reader =
        m_lab.start(NetLab::A, true, Traffic, {mode, m_lab.address(NetLab::B, false), "5305"});
    QVERIFY(reader->waitForFinished(60000));
    QCOMPARE(reader->exitCode(), 0);
    // What the source's kernel sent, repeats included: all of it arrived.
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += source->readAllStandardOutput()).contains('\n'), 15000);
    const QList<QByteArray> words = said.trimmed().split(' ');
    const qsizetype wire = words.indexOf("wire");
    QVERIFY(wire > 0 && wire + 1 < words.size());
    const double sent = words[wire + 1].toDouble();
    m_backend->poll();
    const QString dd = QFileInfo(QStringLiteral("/usr/bin/dd")).canonicalFilePath();
    const double counted = double(m_backend->totals(m_backend->idForPath(dd)).received);
    const double before = double(m_backend->totals(m_backend->idForPath(Traffic)).received);
    qInfo("dd %.0f and bwctraffic %.0f of %.0f bytes the source sent: %.5f", counted, before, sent,
          (counted + before) / sent);
    // Nothing lost or counted twice in the hand-over...
    QVERIFY2(qAbs((counted + before) / sent - 1) < AttributionTolerance,
             qPrintable(QStringLiteral("%1 + %2 of %3").arg(counted).arg(before).arg(sent)));
    // ...and the old program kept at most what the kernel took in for it
    // before anyone read: about the connection's first receive buffer (139
    // kB on the wire for a buffer of 128 kB here, the same in every run).
    QString rmem;
    NetLab::run(QStringLiteral("ip"),
                {"netns", "exec", m_lab.netns(NetLab::A), "cat", "/proc/sys/net/ipv4/tcp_rmem"},
                &rmem);
    const qint64 firstBuffer = rmem.simplified().split(QLatin1Char(' ')).value(1).toLongLong();
    QVERIFY(firstBuffer > 0);
    QVERIFY2(before <= 1.25 * onTheWire(firstBuffer),
             qPrintable(QStringLiteral("%1 bytes before the first read, a first buffer of %2")
                            .arg(before)
                            .arg(firstBuffer)));
}

void TestLinuxIdentity::posing_data()
{
    QTest::addColumn<QByteArray>("program"); // made in a folder of the user's
    QTest::addColumn<bool>("script");        // a Python script, else a copy of the traffic program
    QTest::addColumn<QByteArray>("victim");  // a blocked program; %D is the folder
    QTest::addColumn<QString>("command");    // how the user runs it, in the folder

    QTest::newRow("a script that moves to /usr/bin once it runs")
        << QByteArray("curl") << true << QByteArray("/usr/bin/curl")
        << "exec python3 curl %1 %2 %3";
    QTest::newRow("names that are not UTF-8")
        << QByteArray("t\xff") << false << QByteArray("%D/t\xfe")
        << "exec \"./$(printf 't\\377')\" send %1 %2 %3";
    QTest::newRow("a file named as if deleted")
        << QByteArray("x (deleted)") << false << QByteArray("%D/x")
        << "exec \"./x (deleted)\" send %1 %2 %3";
}

// A user's program that poses as another is neither counted, limited nor
// blocked as that one: it runs (the other is blocked), and its bytes are its own.
void TestLinuxIdentity::posing()
{
    QFETCH(QByteArray, program);
    QFETCH(bool, script);
    QFETCH(QByteArray, victim);
    QFETCH(QString, command);
    if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("needs python3 and setpriv");
    ThrowawayUser user;
    QString error;
    QVERIFY2(user.setUp(&error), qPrintable(error));
    QTemporaryDir folder(m_dir.filePath(QStringLiteral("user-XXXXXX")));
    QVERIFY(folder.isValid());
    // Qt cannot name every file in it: rm removes them by their bytes.
    const auto removeFolder = qScopeGuard([&folder] {
        NetLab::run(QStringLiteral("rm"), {"-rf", folder.path()});
    });
    const QByteArray dir = QFile::encodeName(QDir(folder.path()).canonicalPath());
    ::chmod(dir.constData(), 0755);
    QFile traffic(Traffic);
    QVERIFY(traffic.open(QIODevice::ReadOnly));
    const QByteArray binary = traffic.readAll();
    victim.replace("%D", dir);
    if (!victim.startsWith("/usr/"))
        QVERIFY(writeFile(victim, binary, 0755));
    const QByteArray content =
        script ? QByteArray("import os, socket, sys, time\n"
                            "os.chdir('/usr/bin')\n"
                            "time.sleep(0.3)\n"
                            "s = socket.create_connection((sys.argv[1], int(sys.argv[2])))\n"
                            "s.sendall(bytes(int(sys.argv[3])))\n")
               : binary;
    QVERIFY(writeFile(dir + '/' + program, content, script ? 0644 : 0755));

    QVERIFY(startBackend());
    const QString victimPath = PathText::fromBytes(victim);
    setRules({{victimPath, Limits::Blocked}});
    QProcess* sinker = sink(5305);
    QVERIFY(sinker);
    SinkCount received(sinker);
    const quint64 resentBefore = resentSegments();
    const qint64 bytes = 4000000;
    const QString line =
        QStringLiteral("cd '%1' && ").arg(QFile::decodeName(dir)) +
        command.arg(m_lab.address(NetLab::B, false), QStringLiteral("5305")).arg(bytes);
    QProcess* run = m_lab.start(NetLab::A, true, QStringLiteral("setpriv"), user.as(line));
    NetLab::finish(run);
    QVERIFY2(run->exitCode() == 0, run->readAllStandardError().constData());
    QTRY_COMPARE(received.read(), bytes);
    m_backend->poll();
    const QString own = m_backend->idForPath(PathText::fromBytes(dir + '/' + program));
    QVERIFY2(!own.isEmpty(), "the user's program is not listed by its own name");
    const double counted = double(m_backend->totals(own).sent);
    const double sent = crossed(bytes, resentBefore);
    QVERIFY2(qAbs(counted / sent - 1) < AttributionTolerance,
             qPrintable(QStringLiteral("%1 of %2").arg(counted).arg(sent)));
    const LinuxBackend::Totals other = m_backend->totals(LinuxBackend::idFor(victimPath));
    QCOMPARE(other.sent + other.received, 0u);
}

void TestLinuxIdentity::stalledArguments_data()
{
    QTest::addColumn<int>("stallMs");
    QTest::addColumn<bool>("scriptNamed"); // else named by its interpreter
    QTest::newRow("arguments that come late") << 400 << true;
    QTest::newRow("arguments that never come") << 60000 << false;
}

// A script that ran before the backend started is named from its arguments,
// and a process can keep those from being read: the backend goes on, and what
// the script sends meanwhile is its own, not unattributed.
void TestLinuxIdentity::stalledArguments()
{
    QFETCH(int, stallMs);
    QFETCH(bool, scriptNamed);
    if (QStandardPaths::findExecutable(QStringLiteral("perl")).isEmpty())
        QSKIP("needs perl");
    // Connects, then sends as many bytes as it is told and stays.
    const QString script = m_dir.filePath(QStringLiteral("sender%1.pl").arg(stallMs));
    QVERIFY(writeFile(QFile::encodeName(script),
                      "use IO::Socket::INET; $| = 1;\n"
                      "my $s = IO::Socket::INET->new(PeerAddr => $ARGV[0], PeerPort => $ARGV[1])"
                      " or die;\n"
                      "print \"connected\\n\";\n"
                      "my $left = <STDIN>;\n"
                      "while ($left > 0) { my $w = $s->syswrite('x' x 65536, $left); die unless "
                      "$w; $left -= $w; }\n"
                      "print \"sent\\n\";\n"
                      "sleep 600;\n",
                      0644));
    QProcess* sinker = sink(5306);
    QVERIFY(sinker);
    QProcess* sender = m_lab.start(NetLab::A, true, QStringLiteral("perl"),
                                   {script, m_lab.address(NetLab::B, false), "5306"});
    QVERIFY(NetLab::waitForOutput(sender, QStringLiteral("connected")));
    const QString interpreter =
        QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(sender->processId())))
            .canonicalFilePath();

    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    const auto unstall = qScopeGuard([&release] { release.set_value(); });
    std::atomic<int> reads{0};
    QElapsedTimer starting;
    starting.start();
    QVERIFY(startBackend([released, stallMs, &reads](LinuxBackend::Options* options) {
        options->readArguments = [released, stallMs, &reads](quint32 pid) {
            ++reads;
            released.wait_for(std::chrono::milliseconds(stallMs));
            return AppIdentity::argumentsOf(pid);
        };
    }));
    QVERIFY2(starting.elapsed() < 10000, qPrintable(QString::number(starting.elapsed())));
    // Everything it sends goes while its arguments are still being read (the
    // read starts on the backend's worker, which a busy machine may run late).
    QTRY_VERIFY(reads > 0);
    const quint64 resentBefore = resentSegments();
    const qint64 bytes = 4000000;
    sender->write(QByteArray::number(bytes) + '\n');
    QVERIFY(NetLab::waitForOutput(sender, QStringLiteral("sent")));

    const QString named = scriptNamed ? QFileInfo(script).canonicalFilePath() : interpreter;
    QTRY_VERIFY_WITH_TIMEOUT(!m_backend->idForPath(named).isEmpty(), 10000);
    const QString id = m_backend->idForPath(named);
    QTRY_VERIFY2(qAbs(double(m_backend->totals(id).sent) / crossed(bytes, resentBefore) - 1) <
                     AttributionTolerance,
                 qPrintable(QString::number(m_backend->totals(id).sent)));
}

namespace {

// A descriptor of the process's first socket, taken from it.
int takeSocket(qint64 pid)
{
    const int pidfd = int(::syscall(SYS_pidfd_open, pid_t(pid), 0));
    if (pidfd < 0)
        return -1;
    int taken = -1;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
        if (taken < 0 && QFile::symLinkTarget(fds.filePath(fd)).contains(QLatin1String("socket:[")))
            taken = int(::syscall(SYS_pidfd_getfd, pidfd, fd.toInt(), 0));
    }
    ::close(pidfd);
    return taken;
}

} // namespace

// A program that is forgotten while a socket of its lives on (here a copy the
// test took; an orphaned connection that drains, a descriptor passed on) leaves
// its number with that socket: what the socket sends later is never counted
// for a program that came after.
void TestLinuxIdentity::lingeringSocket()
{
    QVERIFY(startBackend([](LinuxBackend::Options* options) {
        options->forgetAfterMs = 300;
        options->quietMs = 300;
    }));
    // Two sinks: each reads one connection at a time.
    QVERIFY(sink(5307));
    QVERIFY(sink(5308));
    const QString peer = m_lab.address(NetLab::B, false);
    const QString first = freshCopy(QStringLiteral("first"));
    QProcess* sender =
        m_lab.start(NetLab::A, true, first, {"send", peer, "5307", "100000", "--wait"});
    QVERIFY(NetLab::waitForOutput(sender, QStringLiteral("ready")));
    const int kept = takeSocket(sender->processId());
    QVERIFY(kept >= 0);
    const auto closeKept = qScopeGuard([kept] { ::close(kept); });
    QTRY_VERIFY(!m_backend->idForPath(first).isEmpty());
    sender->write("\n");
    NetLab::finish(sender);
    QTRY_VERIFY_WITH_TIMEOUT(m_backend->idForPath(first).isEmpty(), 15000);

    const QString second = freshCopy(QStringLiteral("second"));
    const qint64 secondBytes = 500000;
    QProcess* next =
        m_lab.start(NetLab::A, true, second, {"send", peer, "5308", QString::number(secondBytes)});
    NetLab::finish(next);
    QCOMPARE(next->exitCode(), 0);
    const QByteArray lingering(3000000, 'x');
    for (qint64 written = 0; written < lingering.size();) {
        const ssize_t n =
            ::write(kept, lingering.constData() + written, size_t(lingering.size() - written));
        QVERIFY(n > 0);
        written += n;
    }
    const auto unattributed = [this] {
        return double(m_backend->totals(LinuxBackend::unattributedId()).sent);
    };
    QTRY_VERIFY_WITH_TIMEOUT(unattributed() > onTheWire(lingering.size()) * 0.98, 15000);
    const QString id = m_backend->idForPath(second);
    QVERIFY2(!id.isEmpty(), "the later program is not listed");
    const double counted = double(m_backend->totals(id).sent);
    QVERIFY2(qAbs(counted / onTheWire(secondBytes) - 1) < 0.05,
             qPrintable(QString::number(counted)));
    QVERIFY(m_backend->idForPath(first).isEmpty());
}

// A script on a file system that never answers (a user's FUSE mount whose
// server hangs): its interpreter's start is heard of, and looking at the
// script must not hold the backend up.
void TestLinuxIdentity::scriptOnStalledFileSystem()
{
    const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0)
        QSKIP("needs /dev/fuse");
    const QByteArray mountPoint = QFile::encodeName(m_dir.filePath(QStringLiteral("stalled")));
    QVERIFY(QDir().mkpath(QFile::decodeName(mountPoint)));
    // Nobody ever reads the other end: every lookup below it waits.
    const QByteArray options =
        "fd=" + QByteArray::number(fuse) + ",rootmode=40000,user_id=0,group_id=0";
    if (::mount("bwcstall", mountPoint.constData(), "fuse", MS_NOSUID | MS_NODEV,
                options.constData()) != 0) {
        ::close(fuse);
        QSKIP("cannot mount a FUSE file system here");
    }
    // Whatever still waits on it is let go after 20 s, and at the end.
    std::promise<void> done;
    std::thread releaser([fuse, finished = done.get_future()] {
        finished.wait_for(std::chrono::seconds(20));
        ::close(fuse);
    });
    const auto cleanUp = qScopeGuard([&] {
        done.set_value();
        releaser.join();
        ::umount2(mountPoint.constData(), MNT_DETACH);
    });
    QVERIFY(startBackend());
    QSignalSpy polled(m_backend.data(), &LinuxBackend::ratesUpdated);
    QElapsedTimer running;
    running.start();
    m_lab.start(NetLab::A, true, QStringLiteral("perl"),
                {QFile::decodeName(mountPoint) + QStringLiteral("/x.pl")});
    for (int poll = 0; poll < 3; ++poll)
        QVERIFY(polled.wait(10000));
    QVERIFY2(running.elapsed() < 10000, qPrintable(QString::number(running.elapsed())));
}

QTEST_MAIN(TestLinuxIdentity)
#include "tst_linuxidentity.moc"
