#include "statefolder.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QByteArray nameOf(const QString& name)
{
    return QFile::encodeName(name);
}

} // namespace

StateFolder::StateFolder(const QString& path) : m_path(path) {}

StateFolder::~StateFolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool StateFolder::open(QString* error)
{
    const QString shown = QDir::toNativeSeparators(m_path);
    if (!QDir().mkpath(m_path)) {
        *error = QStringLiteral("cannot create the folder %1").arg(shown);
        return false;
    }
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat info = {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0) {
        *error = QStringLiteral("cannot open the folder %1 (%2)").arg(shown, systemError());
        return false;
    }
    if (info.st_uid != ::geteuid() && info.st_uid != 0) {
        *error = QStringLiteral("the folder %1 belongs to another user (uid %2), who could "
                                "replace the state file; keep it in a folder of root's")
                     .arg(shown)
                     .arg(info.st_uid);
        m_unsafe = true;
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) && !(info.st_mode & S_ISVTX)) {
        *error = QStringLiteral("other users can write to the folder %1 and so replace the "
                                "state file; keep it in a folder only root can write to (or "
                                "one with the sticky bit)")
                     .arg(shown);
        m_unsafe = true;
        return false;
    }
    return true;
}

StateFolder::Read StateFolder::read(const QString& name, QByteArray* bytes, QString* why) const
{
    const int fd = ::openat(m_fd, nameOf(name).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return Read::Missing;
        *why = errno == ELOOP ? QStringLiteral("a symbolic link, which is never followed")
                              : QStringLiteral("unreadable (%1)").arg(systemError());
        return Read::Unusable;
    }
    struct stat info = {};
    Read result = Read::Unusable;
    if (::fstat(fd, &info) != 0) {
        *why = QStringLiteral("unreadable (%1)").arg(systemError());
    } else if (!S_ISREG(info.st_mode)) {
        *why = QStringLiteral("not a regular file");
    } else if (info.st_uid != ::geteuid()) {
        *why = QStringLiteral("owned by another user (uid %1)").arg(info.st_uid);
    } else if (info.st_size > MaxDocumentBytes) {
        *why = QStringLiteral("too large (%1 bytes)").arg(qint64(info.st_size));
    } else {
        QFile file;
        if (file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
            *bytes = file.read(MaxDocumentBytes);
            if (file.error() == QFileDevice::NoError)
                result = Read::Done;
        }
        if (result != Read::Done)
            *why = QStringLiteral("unreadable (%1)").arg(file.errorString());
    }
    ::close(fd);
    return result;
}

bool StateFolder::replace(const QString& name, const QByteArray& bytes, QString* error) const
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = nameOf(name) + '.';
        for (int i = 0; i < 6; ++i)
            temporary += letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)];
        fd = ::openat(m_fd, temporary.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *error = QStringLiteral("cannot create a temporary file (%1)").arg(systemError());
        return false;
    }
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        data += written;
        left -= written;
    }
    // The rename replaces whatever has the name, a link included, and never
    // what a link points to.
    const bool done = left == 0 && ::fsync(fd) == 0 && ::close(fd) == 0 &&
                      ::renameat(m_fd, temporary.constData(), m_fd, nameOf(name).constData()) == 0;
    if (!done) {
        *error = systemError();
        if (left != 0)
            ::close(fd);
        ::unlinkat(m_fd, temporary.constData(), 0);
        return false;
    }
    ::fsync(m_fd);
    return true;
}

bool StateFolder::rename(const QString& from, const QString& to, QString* error) const
{
    if (exists(to)) {
        *error = QStringLiteral("%1 exists").arg(to);
        return false;
    }
    if (::renameat(m_fd, nameOf(from).constData(), m_fd, nameOf(to).constData()) != 0) {
        *error = systemError();
        return false;
    }
    return true;
}

bool StateFolder::exists(const QString& name) const
{
    struct stat info = {};
    return ::fstatat(m_fd, nameOf(name).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool StateFolder::removeOwnFile(const QString& name) const
{
    struct stat info = {};
    return ::fstatat(m_fd, nameOf(name).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
           ::unlinkat(m_fd, nameOf(name).constData(), 0) == 0;
}

#else

#include <QFileInfo>
#include <QSaveFile>

// Elsewhere the folder is taken as it is, through Qt's own file classes.
StateFolder::StateFolder(const QString& path) : m_path(path) {}
StateFolder::~StateFolder() = default;

bool StateFolder::open(QString* error)
{
    if (QDir().mkpath(m_path))
        return true;
    *error = QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(m_path));
    return false;
}

StateFolder::Read StateFolder::read(const QString& name, QByteArray* bytes, QString* why) const
{
    QFile file(QDir(m_path).filePath(name));
    if (!file.exists())
        return Read::Missing;
    if (file.open(QIODevice::ReadOnly)) {
        *bytes = file.read(MaxDocumentBytes);
        if (file.error() == QFileDevice::NoError)
            return Read::Done;
    }
    *why = QStringLiteral("unreadable (%1)").arg(file.errorString());
    return Read::Unusable;
}

bool StateFolder::replace(const QString& name, const QByteArray& bytes, QString* error) const
{
    QSaveFile file(QDir(m_path).filePath(name));
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = file.errorString();
    return false;
}

bool StateFolder::rename(const QString& from, const QString& to, QString* error) const
{
    QFile file(QDir(m_path).filePath(from));
    if (!exists(to) && file.rename(QDir(m_path).filePath(to)))
        return true;
    *error = file.errorString();
    return false;
}

bool StateFolder::exists(const QString& name) const
{
    return QFileInfo::exists(QDir(m_path).filePath(name));
}

bool StateFolder::removeOwnFile(const QString& name) const
{
    return QFile::remove(QDir(m_path).filePath(name));
}

#endif
