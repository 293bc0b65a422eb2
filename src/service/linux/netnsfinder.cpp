#include "netnsfinder.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray nsPath(quint32 pid)
{
    return "/proc/" + QByteArray::number(pid) + "/ns/net";
}

} // namespace

quint64 NetnsFinder::inodeOf(const QString& path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? quint64(info.st_ino) : 0;
}

int NetnsFinder::openOf(quint32 pid, quint64 inode)
{
    const int fd = ::open(nsPath(pid).constData(), O_RDONLY | O_CLOEXEC);
    struct stat info
    {
    };
    if (fd >= 0 && (::fstat(fd, &info) != 0 || quint64(info.st_ino) != inode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void NetnsFinder::note(quint32 pid, QMap<quint64, quint32>* found)
{
    struct stat info
    {
    };
    if (pid && ::stat(nsPath(pid).constData(), &info) == 0 && !found->contains(info.st_ino))
        found->insert(quint64(info.st_ino), pid);
}

QMap<quint64, quint32> NetnsFinder::find() const
{
    QMap<quint64, quint32> found;
    if (!m_cgroup.isEmpty()) {
        collect(m_cgroup, &found);
        return found;
    }
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& name : entries)
        note(name.toUInt(), &found);
    return found;
}

void NetnsFinder::collect(const QString& dir, QMap<quint64, quint32>* found) const
{
    QFile procs(dir + QLatin1String("/cgroup.procs"));
    if (procs.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : procs.readAll().split('\n'))
            note(line.toUInt(), found);
    }
    for (const QString& child : QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        collect(dir + QLatin1Char('/') + child, found);
}
