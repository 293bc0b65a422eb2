#include "netlab.h"

#include "cgroupfs.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

// Whether a lab's name belongs to a test process that is gone.
bool orphaned(const QString& name)
{
    QString digits = name.mid(NetLab::prefix().size());
    if (digits.endsWith(QLatin1Char('a')) || digits.endsWith(QLatin1Char('b')) ||
        digits.endsWith(QLatin1Char('c')))
        digits.chop(1);
    bool ok = false;
    const pid_t owner = pid_t(digits.toInt(&ok));
    return !ok || (owner != getpid() && kill(owner, 0) != 0);
}

void killCgroup(const QString& dir)
{
    QFile kill(dir + QLatin1String("/cgroup.kill"));
    if (kill.open(QIODevice::WriteOnly))
        kill.write("1");
    kill.close();
    for (int i = 0; i < 100 && !QDir().rmdir(dir); ++i)
        usleep(20000);
}

} // namespace

NetLab::NetLab() : m_name(prefix() + QString::number(getpid())) {}

QString NetLab::unavailable()
{
    if (geteuid() != 0)
        return QStringLiteral("needs root");
    for (const char* tool : {"ip", "nsenter", "iperf3", "bpftool"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool),
                                           {"/usr/sbin", "/usr/bin", "/sbin", "/bin"})
                .isEmpty())
            return QStringLiteral("needs %1").arg(QLatin1String(tool));
    }
    if (CgroupFs::mountPoint().isEmpty())
        return QStringLiteral("needs cgroup v2");
    return QString();
}

int NetLab::run(const QString& program, const QStringList& args, QString* output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForFinished(60000))
        return -1;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QString NetLab::netns(Side side) const
{
    return m_name + (side == A   ? QLatin1String("a")
                     : side == B ? QLatin1String("b")
                                 : QLatin1String("c"));
}

QString NetLab::address(Side side, bool v6) const
{
    if (side == C)
        return QStringLiteral("10.211.78.2");
    if (v6)
        return side == A ? QStringLiteral("fd77:bc::1") : QStringLiteral("fd77:bc::2");
    return side == A ? QStringLiteral("10.211.77.1") : QStringLiteral("10.211.77.2");
}

bool NetLab::setUp(QString* error)
{
    sweep();
    const QString ip = QStringLiteral("ip");
    const QString a = netns(A), b = netns(B);
    const QList<QStringList> steps{
        {"netns", "add", a},
        {"netns", "add", b},
        {"link", "add", a, "netns", a, "type", "veth", "peer", "name", b, "netns", b},
        {"-n", a, "addr", "add", address(A, false) + "/24", "dev", a},
        {"-n", b, "addr", "add", address(B, false) + "/24", "dev", b},
        {"-n", a, "addr", "add", address(A, true) + "/64", "dev", a, "nodad"},
        {"-n", b, "addr", "add", address(B, true) + "/64", "dev", b, "nodad"},
        {"-n", a, "link", "set", a, "up"},
        {"-n", b, "link", "set", b, "up"},
        {"-n", a, "link", "set", "lo", "up"},
        {"-n", b, "link", "set", "lo", "up"},
    };
    for (const QStringList& step : steps) {
        QString output;
        if (run(ip, step, &output) != 0) {
            *error = QStringLiteral("ip %1: %2").arg(step.join(QLatin1Char(' ')), output);
            tearDown();
            return false;
        }
    }
    m_cgroup = CgroupFs::mountPoint() + QLatin1Char('/') + m_name;
    if (!QDir().mkpath(m_cgroup)) {
        *error = QStringLiteral("cannot make the cgroup %1").arg(m_cgroup);
        tearDown();
        return false;
    }
    return true;
}

bool NetLab::setUpRouted(QString* error)
{
    const QString a = netns(A), b = netns(B), c = netns(C), link = netns(A) + QLatin1Char('r');
    const QList<QStringList> steps{
        {"ip", "netns", "add", c},
        {"ip", "link", "add", link, "netns", a, "type", "veth", "peer", "name", c, "netns", c},
        {"ip", "-n", a, "addr", "add", "10.211.78.1/24", "dev", link},
        {"ip", "-n", c, "addr", "add", address(C, false) + "/24", "dev", c},
        {"ip", "-n", a, "link", "set", link, "up"},
        {"ip", "-n", c, "link", "set", c, "up"},
        {"ip", "-n", c, "link", "set", "lo", "up"},
        {"ip", "-n", c, "route", "add", "default", "via", "10.211.78.1"},
        {"ip", "-n", b, "route", "add", "10.211.78.0/24", "via", address(A, false)},
        {"nsenter", "--net=" + netnsPath(A), "sysctl", "-qw", "net.ipv4.ip_forward=1"},
    };
    for (const QStringList& step : steps) {
        QString output;
        if (run(step.first(), step.mid(1), &output) != 0) {
            *error = QStringLiteral("%1: %2").arg(step.join(QLatin1Char(' ')), output);
            return false;
        }
    }
    return true;
}

QProcess* NetLab::start(Side side, bool measured, const QString& program, const QStringList& args)
{
    auto* process = new QProcess;
    // The shell moves itself into the cgroup before it becomes the program,
    // so that every socket the program makes is made inside it.
    const QString enter =
        measured ? QStringLiteral("echo $$ > %1/cgroup.procs && ").arg(m_cgroup) : QString();
    process->start(QStringLiteral("sh"),
                   QStringList{"-c", enter + "exec nsenter --net=" + netnsPath(side) + " \"$@\"",
                               "sh", program} +
                       args);
    m_processes.append(process);
    return process;
}

QProcess* NetLab::startReady(Side side, bool measured, const QString& program,
                             const QStringList& args, const QString& readyText)
{
    QProcess* process = start(side, measured, program, args);
    return waitForOutput(process, readyText) ? process : nullptr;
}

bool NetLab::waitForOutput(QProcess* process, const QString& text, int timeoutMs)
{
    QByteArray seen;
    for (QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired();) {
        if (process->waitForReadyRead(100) || process->bytesAvailable())
            seen += process->readAll();
        if (QString::fromLocal8Bit(seen).contains(text))
            return true;
        if (process->state() == QProcess::NotRunning && !process->bytesAvailable())
            return false;
    }
    return false;
}

bool NetLab::finish(QProcess* process, QByteArray* output, int timeoutMs)
{
    for (QDeadlineTimer deadline(timeoutMs);
         process->state() != QProcess::NotRunning && !deadline.hasExpired();) {
        QTest::qWait(20);
        if (output)
            *output += process->readAllStandardOutput();
    }
    if (output)
        *output += process->readAllStandardOutput();
    return process->state() == QProcess::NotRunning &&
           process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
}

void NetLab::stopPrograms()
{
    for (QProcess* process : std::as_const(m_processes)) {
        process->kill();
        process->waitForFinished(5000);
        delete process;
    }
    m_processes.clear();
}

void NetLab::tearDown()
{
    stopPrograms();
    if (!m_cgroup.isEmpty())
        killCgroup(m_cgroup);
    m_cgroup.clear();
    run(QStringLiteral("ip"), {"netns", "del", netns(A)});
    run(QStringLiteral("ip"), {"netns", "del", netns(B)});
    run(QStringLiteral("ip"), {"netns", "del", netns(C)});
}

void NetLab::sweep()
{
    QString list;
    run(QStringLiteral("ip"), {"netns", "list"}, &list);
    for (const QString& line : list.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString name = line.section(QLatin1Char(' '), 0, 0);
        if (name.startsWith(prefix()) && orphaned(name))
            run(QStringLiteral("ip"), {"netns", "del", name});
    }
    const QString mount = CgroupFs::mountPoint();
    const QStringList groups =
        QDir(mount).entryList({prefix() + QLatin1Char('*')}, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& group : groups) {
        if (orphaned(group))
            killCgroup(mount + QLatin1Char('/') + group);
    }
}

QStringList NetLab::leftovers()
{
    // Other test processes running at the same time keep theirs.
    const QRegularExpression name(prefix() + QStringLiteral("[0-9]+[abc]?"));
    const auto ours = [&](const QString& line) {
        const QRegularExpressionMatch match = name.match(line);
        return match.hasMatch() &&
               (orphaned(match.captured()) ||
                match.captured().startsWith(prefix() + QString::number(getpid())));
    };
    QStringList found;
    QString output;
    const QList<QStringList> commands{{"ip", "netns", "list"},
                                      {"ip", "link", "show"},
                                      {"tc", "qdisc", "show"},
                                      {"bpftool", "cgroup", "tree"}};
    for (const QStringList& command : commands) {
        run(command.first(), command.mid(1), &output);
        for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (ours(line))
                found.append(command.join(QLatin1Char(' ')) + QLatin1String(": ") + line);
        }
    }
    const QStringList groups =
        QDir(CgroupFs::mountPoint())
            .entryList({prefix() + QLatin1Char('*')}, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& group : groups) {
        if (ours(group))
            found.append(QStringLiteral("cgroup ") + group);
    }
    return found;
}
