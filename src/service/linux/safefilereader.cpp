#include "safefilereader.h"

#include <QFile>
#include <QtDebug>

#include <cerrno>
#include <memory>
#include <optional>

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

constexpr int OpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

void giveUp(const QString& path, const char* why)
{
    qDebug("SafeFileReader: not reading %s: %s", qPrintable(path), why);
}

// The kernel's own files look regular, and reading some (another process's
// arguments or memory) waits on whoever they describe. Whatever folders led
// there, links included, the file is known by what it lies on.
bool onKernelFileSystem(int fd)
{
    struct statfs where;
    if (fstatfs(fd, &where) != 0)
        return true;
    switch (where.f_type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
        return true;
    default:
        return false;
    }
}

struct Descriptor
{
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int fd;
};

struct Walk
{
    QString suffix;
    int maxDepth = 0;
    int budget = 0;
    QStringList found;
};

// dir is owned by the walk from here on.
void walk(int dirFd, const QString& folder, int depth, Walk* state)
{
    DIR* dir = fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, closedir);
    while (dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        if (--state->budget < 0) {
            if (state->budget == -1)
                giveUp(folder, "too many entries below the folder; the rest is left out");
            return;
        }
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat info;
            if (fstatat(dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        const QString path = folder + QLatin1Char('/') + QFile::decodeName(name);
        if (type == DT_DIR) {
            if (depth >= state->maxDepth)
                continue;
            const int sub = openat(dirfd(dir), name, OpenFlags | O_DIRECTORY | O_NOFOLLOW);
            if (sub >= 0)
                walk(sub, path, depth + 1, state);
        } else if (type == DT_REG && path.endsWith(state->suffix)) {
            state->found.append(path);
        }
    }
}

} // namespace

int SafeFileReader::open(const QString& path, Links links) const
{
    std::optional<FsIdentity> identity;
    if (m_hasOwner) {
        identity.emplace(m_owner);
        if (!identity->active()) {
            giveUp(path, "cannot take its owner's identity");
            return -1;
        }
    }
    const int fd = ::open(QFile::encodeName(path).constData(),
                          OpenFlags | (links == Links::Refuse ? O_NOFOLLOW : 0));
    if (fd < 0)
        return -1;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        giveUp(path, "not a regular file");
        return -1;
    }
    if (onKernelFileSystem(fd)) {
        ::close(fd);
        giveUp(path, "a file of the kernel's, not of a disk");
        return -1;
    }
    // Opened without blocking so that a FIFO or device could not hold us;
    // a regular file reads the same either way.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool SafeFileReader::read(const QString& path, qint64 maxBytes, QByteArray* out, Links links) const
{
    const Descriptor file(open(path, links));
    if (file.fd < 0)
        return false;
    struct stat info;
    if (fstat(file.fd, &info) != 0 || info.st_size > maxBytes) {
        giveUp(path, "larger than allowed");
        return false;
    }
    // The file may grow while it is read: one byte over the cap says so.
    QByteArray data(qsizetype(std::max<qint64>(info.st_size, 0)) + 1, Qt::Uninitialized);
    qint64 have = 0;
    while (true) {
        if (have == data.size()) {
            if (have > maxBytes)
                break;
            data.resize(std::min<qint64>(maxBytes + 1, std::max<qint64>(4096, have * 2)));
        }
        const ssize_t n = ::read(file.fd, data.data() + have, size_t(data.size() - have));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        have += n;
    }
    if (have > maxBytes) {
        giveUp(path, "larger than allowed");
        return false;
    }
    data.truncate(qsizetype(have));
    *out = data;
    return true;
}

bool SafeFileReader::readLines(const QString& path, qint64 maxBytes, qint64 maxLine,
                               QList<QByteArray>* out, Links links) const
{
    QByteArray all;
    if (!read(path, maxBytes, &all, links))
        return false;
    QList<QByteArray> lines = all.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (const QByteArray& line : std::as_const(lines)) {
        if (line.size() > maxLine) {
            giveUp(path, "a line longer than allowed");
            return false;
        }
    }
    *out = lines;
    return true;
}

QStringList SafeFileReader::listFiles(const QString& folder, const QString& suffix, int maxDepth,
                                      int maxEntries) const
{
    std::optional<FsIdentity> identity;
    if (m_hasOwner) {
        identity.emplace(m_owner);
        if (!identity->active()) {
            giveUp(folder, "cannot take its owner's identity");
            return {};
        }
    }
    const int fd =
        ::open(QFile::encodeName(folder).constData(), OpenFlags | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0)
        return {};
    Walk state{suffix, maxDepth, maxEntries, {}};
    walk(fd, folder, 0, &state);
    state.found.sort();
    return state.found;
}
