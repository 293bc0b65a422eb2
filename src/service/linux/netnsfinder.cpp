#include "netnsfinder.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <linux/nsfs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray nsPath(quint32 pid)
{
    return "/proc/" + QByteArray::number(pid) + "/ns/net";
}

// Far more than a machine's mounts take; the table is the kernel's, but a
// runaway one must not take the service's memory with it.
constexpr qint64 MaxMountinfoBytes = 16 << 20;

// A mount point as mountinfo writes it: space, tab, newline and backslash
// as three octal digits after a backslash.
QString unescaped(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok && code > 0 && code < 256) {
                out += char(code);
                i += 3;
                continue;
            }
        }
        out += c;
    }
    return QFile::decodeName(out);
}

// The inode of a namespace's root as mountinfo names it: "net:[4026531840]".
quint64 netInode(const QByteArray& root)
{
    if (!root.startsWith("net:[") || !root.endsWith(']'))
        return 0;
    bool ok = false;
    const quint64 inode = root.mid(5, root.size() - 6).toULongLong(&ok);
    return ok ? inode : 0;
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

QMap<quint64, QString> NetnsFinder::pinnedIn(const QByteArray& mountinfo)
{
    // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS [TAGS...] - TYPE SOURCE ...
    QMap<quint64, QString> found;
    for (const QByteArray& line : mountinfo.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (dash < 6 || dash + 1 >= fields.size() || fields[dash + 1] != "nsfs")
            continue;
        const quint64 inode = netInode(fields[3]);
        if (inode && !found.contains(inode))
            found.insert(inode, unescaped(fields[4]));
    }
    return found;
}

QMap<quint64, QString> NetnsFinder::pinned()
{
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    // Read to the end: the size of a proc file is not known beforehand.
    QByteArray text;
    while (text.size() <= MaxMountinfoBytes) {
        const QByteArray chunk = file.read(1 << 16);
        if (chunk.isEmpty())
            break;
        text += chunk;
    }
    if (text.size() > MaxMountinfoBytes)
        return {};
    return pinnedIn(text);
}

int NetnsFinder::openPinned(const QString& path, quint64 inode)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat info
    {
    };
    if (fd >= 0 && (::fstat(fd, &info) != 0 || quint64(info.st_ino) != inode ||
                    ::ioctl(fd, NS_GET_NSTYPE) != CLONE_NEWNET)) {
        ::close(fd);
        return -1;
    }
    return fd;
}
