#include "throwawayuser.h"

#include "cgroupfs.h"
#include "netlab.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <csignal>
#include <unistd.h>

namespace {

const QString Prefix = QStringLiteral("bwcu");

bool alive(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

QString cgroupOf(const QString& name)
{
    const QString mount = CgroupFs::mountPoint();
    return mount.isEmpty() ? QString() : mount + QLatin1Char('/') + name;
}

// Everything a user of that name may have, whichever kind it was.
void removeAll(const QString& name)
{
    NetLab::run(QStringLiteral("pkill"), {"-KILL", "-u", name});
    const QString cgroup = cgroupOf(name);
    if (!cgroup.isEmpty() && QFileInfo::exists(cgroup)) {
        QFile kill(cgroup + QStringLiteral("/cgroup.kill"));
        if (kill.open(QIODevice::WriteOnly))
            kill.write("1");
        kill.close();
        for (int i = 0; i < 50 && !QDir().rmdir(cgroup); ++i)
            QThread::msleep(20);
    }
    NetLab::run(QStringLiteral("userdel"), {"--force", name});
    if (QFileInfo::exists("/home/" + name))
        NetLab::run(QStringLiteral("rm"), {"-rf", "--one-file-system", "/home/" + name});
    if (QFileInfo::exists("/run/netns/" + name))
        NetLab::run(QStringLiteral("ip"), {"netns", "del", name});
}

} // namespace

ThrowawayUser::ThrowawayUser(Kind kind) : m_kind(kind), m_name(Prefix + QString::number(getpid()))
{
    if (kind == Kind::Resident) {
        m_home = QStringLiteral("/home/") + m_name;
        m_cgroup = cgroupOf(m_name);
    }
}

QString ThrowawayUser::unavailable()
{
    if (geteuid() != 0)
        return QStringLiteral("needs root");
    if (CgroupFs::mountPoint().isEmpty())
        return QStringLiteral("needs the cgroup v2 hierarchy");
    for (const char* tool : {"useradd", "userdel", "setpriv", "ip", "pkill"}) {
        if (NetLab::run(QString::fromLatin1(tool), {"--version"}) < 0)
            return QStringLiteral("needs %1").arg(QLatin1String(tool));
    }
    return QString();
}

void ThrowawayUser::sweep()
{
    QString passwd;
    QFile file(QStringLiteral("/etc/passwd"));
    if (file.open(QIODevice::ReadOnly))
        passwd = QString::fromLocal8Bit(file.readAll());
    const QRegularExpression pattern(QStringLiteral("^%1(\\d+):").arg(Prefix),
                                     QRegularExpression::MultilineOption);
    for (auto it = pattern.globalMatch(passwd); it.hasNext();) {
        const auto match = it.next();
        if (!alive(match.captured(1).toLongLong()))
            removeAll(Prefix + match.captured(1));
    }
}

bool ThrowawayUser::setUp(QString* error)
{
    sweep();
    m_made = true;
    const bool resident = m_kind == Kind::Resident;
    QString output;
    if (NetLab::run(QStringLiteral("useradd"),
                    {"--no-create-home", "--user-group", "--home-dir",
                     resident ? m_home : QStringLiteral("/nonexistent"), "--shell",
                     resident ? QStringLiteral("/bin/sh") : QStringLiteral("/usr/sbin/nologin"),
                     m_name},
                    &output) != 0) {
        *error = QStringLiteral("useradd: ") + output;
        return false;
    }
    NetLab::run(QStringLiteral("id"), {"-u", m_name}, &output);
    m_uid = uid_t(output.trimmed().toUInt());
    NetLab::run(QStringLiteral("id"), {"-g", m_name}, &output);
    m_gid = gid_t(output.trimmed().toUInt());
    if (m_uid == 0) {
        *error = QStringLiteral("useradd made no user %1").arg(m_name);
        return false;
    }
    if (!resident)
        return true;
    if (!QDir().mkpath(m_home) || !chownToUser(m_home) ||
        !QFile::setPermissions(m_home, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadOther | QFile::ExeOther)) {
        *error = QStringLiteral("cannot make the home %1").arg(m_home);
        return false;
    }
    if (!QDir().mkpath(m_cgroup)) {
        *error = QStringLiteral("cannot make the cgroup %1").arg(m_cgroup);
        return false;
    }
    if (NetLab::run(QStringLiteral("ip"), {"netns", "add", m_name}, &output) != 0) {
        *error = QStringLiteral("ip netns add: ") + output;
        return false;
    }
    return true;
}

void ThrowawayUser::tearDown()
{
    stopPrograms();
    if (m_made)
        removeAll(m_name);
    m_made = false;
}

QStringList ThrowawayUser::leftovers() const
{
    QStringList left;
    if (NetLab::run(QStringLiteral("id"), {m_name}) == 0)
        left << QStringLiteral("user ") + m_name;
    for (const QString& path : {QStringLiteral("/home/") + m_name, cgroupOf(m_name), netnsPath()}) {
        if (!path.isEmpty() && QFileInfo::exists(path))
            left << path;
    }
    return left;
}

QStringList ThrowawayUser::as(const QString& commandLine) const
{
    return {"--reuid=" + QString::number(m_uid),
            "--regid=" + QString::number(m_gid),
            "--clear-groups",
            "sh",
            "-c",
            commandLine};
}

bool ThrowawayUser::chownToUser(const QString& path) const
{
    return lchown(QFile::encodeName(path).constData(), m_uid, m_gid) == 0;
}

bool ThrowawayUser::write(const QString& relative, const QByteArray& data) const
{
    const QString path = m_home + QLatin1Char('/') + relative;
    const QString folder = QFileInfo(path).path();
    QDir().mkpath(folder);
    for (QString dir = folder; dir.startsWith(m_home + QLatin1Char('/'));
         dir = QFileInfo(dir).path())
        chownToUser(dir);
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return false;
    file.close();
    return chownToUser(path);
}

QProcess* ThrowawayUser::start(const QString& commandLine)
{
    auto* process = new QProcess;
    // In the cgroup before it becomes the user, so that every socket the
    // program makes is made inside it.
    const QString enter = QStringLiteral("echo $$ > %1/cgroup.procs && exec setpriv --reuid=%2 "
                                         "--regid=%3 --clear-groups --inh-caps=-all sh -c \"$0\"")
                              .arg(m_cgroup)
                              .arg(m_uid)
                              .arg(m_gid);
    process->setWorkingDirectory(m_home);
    process->start(QStringLiteral("sh"), {"-c", enter, commandLine});
    m_processes.append(process);
    return process;
}

void ThrowawayUser::stopPrograms()
{
    for (QProcess* process : std::as_const(m_processes)) {
        process->kill();
        process->waitForFinished(5000);
        delete process;
    }
    m_processes.clear();
    if (m_made)
        NetLab::run(QStringLiteral("pkill"), {"-KILL", "-u", m_name});
}
