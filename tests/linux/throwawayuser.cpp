#include "throwawayuser.h"

#include "cgroupfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <csignal>
#include <unistd.h>

namespace {

const QString Prefix = QStringLiteral("bwchostile-");

bool alive(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

void removeAll(const QString& name, const QString& cgroup)
{
    ThrowawayUser::run(QStringLiteral("pkill"), {"-KILL", "-u", name});
    if (!cgroup.isEmpty() && QFileInfo::exists(cgroup)) {
        QFile kill(cgroup + QStringLiteral("/cgroup.kill"));
        if (kill.open(QIODevice::WriteOnly))
            kill.write("1");
        kill.close();
        for (int i = 0; i < 50 && !QDir().rmdir(cgroup); ++i)
            QThread::msleep(20);
    }
    ThrowawayUser::run(QStringLiteral("userdel"), {"--force", name});
    ThrowawayUser::run(QStringLiteral("rm"), {"-rf", "--one-file-system", "/home/" + name});
    ThrowawayUser::run(QStringLiteral("ip"), {"netns", "del", name});
}

} // namespace

ThrowawayUser::ThrowawayUser() : m_name(Prefix + QString::number(getpid()))
{
    m_home = QStringLiteral("/home/") + m_name;
    const QString mount = CgroupFs::mountPoint();
    if (!mount.isEmpty())
        m_cgroup = mount + QLatin1Char('/') + m_name;
}

QString ThrowawayUser::unavailable()
{
    if (geteuid() != 0)
        return QStringLiteral("needs root");
    if (CgroupFs::mountPoint().isEmpty())
        return QStringLiteral("needs the cgroup v2 hierarchy");
    for (const char* tool : {"useradd", "userdel", "setpriv", "ip", "pkill"}) {
        if (run(QString::fromLatin1(tool), {"--version"}) < 0)
            return QStringLiteral("needs %1").arg(QLatin1String(tool));
    }
    return QString();
}

int ThrowawayUser::run(const QString& program, const QStringList& args, QString* output)
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
        if (!alive(match.captured(1).toLongLong())) {
            const QString name = Prefix + match.captured(1);
            const QString mount = CgroupFs::mountPoint();
            removeAll(name, mount.isEmpty() ? QString() : mount + QLatin1Char('/') + name);
        }
    }
}

bool ThrowawayUser::setUp(QString* error)
{
    sweep();
    m_made = true;
    QString output;
    if (run(QStringLiteral("useradd"),
            {"--no-create-home", "--home-dir", m_home, "--shell", "/bin/sh", "--user-group",
             m_name},
            &output) != 0) {
        *error = QStringLiteral("useradd: ") + output;
        return false;
    }
    run(QStringLiteral("id"), {"-u", m_name}, &output);
    m_uid = uid_t(output.trimmed().toUInt());
    run(QStringLiteral("id"), {"-g", m_name}, &output);
    m_gid = gid_t(output.trimmed().toUInt());
    if (m_uid == 0 || !QDir().mkpath(m_home) || !chownToUser(m_home) ||
        !QFile::setPermissions(m_home, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadOther | QFile::ExeOther)) {
        *error = QStringLiteral("cannot make the home %1").arg(m_home);
        return false;
    }
    if (!QDir().mkpath(m_cgroup)) {
        *error = QStringLiteral("cannot make the cgroup %1").arg(m_cgroup);
        return false;
    }
    if (run(QStringLiteral("ip"), {"netns", "add", m_name}, &output) != 0) {
        *error = QStringLiteral("ip netns add: ") + output;
        return false;
    }
    return true;
}

void ThrowawayUser::tearDown()
{
    stopPrograms();
    if (m_made)
        removeAll(m_name, m_cgroup);
    m_made = false;
}

QStringList ThrowawayUser::leftovers() const
{
    QStringList left;
    if (run(QStringLiteral("id"), {m_name}) == 0)
        left << QStringLiteral("user ") + m_name;
    for (const QString& path : {m_home, m_cgroup, netnsPath()}) {
        if (!path.isEmpty() && QFileInfo::exists(path))
            left << path;
    }
    return left;
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
        run(QStringLiteral("pkill"), {"-KILL", "-u", m_name});
}
