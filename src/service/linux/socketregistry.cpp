#include "socketregistry.h"

#include "bwcshared.h"

#include <QFile>
#include <QSet>
#include <QtDebug>

#include <bpf/bpf.h>

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Called through syscall(): not every C library declares them for C++.
int pidfdOpen(pid_t pid)
{
    return int(syscall(SYS_pidfd_open, pid, 0));
}

int pidfdGetfd(int pidfd, int fd)
{
    return int(syscall(SYS_pidfd_getfd, pidfd, fd, 0));
}

// A process may hold as many descriptors as its limit allows, and bwcd looks
// at them on its event loop: no more than this many are looked at. Sockets
// further on still count, by their traffic, once they send.
constexpr int MaxDescriptors = 4096;

// The process's descriptor numbers in the order the kernel lists them.
QList<int> descriptorsOf(quint32 tgid)
{
    QList<int> fds;
    DIR* dir = opendir(QStringLiteral("/proc/%1/fd").arg(tgid).toLatin1().constData());
    if (!dir)
        return fds;
    while (dirent* entry = readdir(dir)) {
        bool ok = false;
        const int fd = QByteArray(entry->d_name).toInt(&ok);
        if (!ok)
            continue;
        if (fds.size() == MaxDescriptors) {
            qDebug("SocketRegistry: process %u holds over %d descriptors; the rest are not "
                   "looked at",
                   tgid, MaxDescriptors);
            break;
        }
        fds.append(fd);
    }
    closedir(dir);
    return fds;
}

QString targetOf(quint32 tgid, int fd)
{
    return QFile::symLinkTarget(QStringLiteral("/proc/%1/fd/%2").arg(tgid).arg(fd));
}

// Neither gone nor a zombie (which has passed the kernel's exit program).
bool running(quint32 tgid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(tgid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.read(512);
    // The state follows the command name, which may hold ") ".
    const int end = line.lastIndexOf(") ");
    return end > 0 && end + 2 < line.size() && line.at(end + 2) != 'Z' && line.at(end + 2) != 'X';
}

} // namespace

SocketRegistry::SocketRegistry(int sockTagsFd, int tgidAppsFd, int exeAppsFd)
    : m_sockTags(sockTagsFd), m_tgidApps(tgidAppsFd), m_exeApps(exeAppsFd)
{}

bool SocketRegistry::setProcessApp(quint32 tgid, quint32 app)
{
    const bwc_tgid_app value{app, 0, BWC_SOCKETS_ANNOUNCED, tgid};
    if (bpf_map_update_elem(m_tgidApps, &tgid, &value, BPF_EXIST) == 0)
        return true;
    // The kernel drops a process's entry when it ends: an entry made for one
    // that ended would name the next process to get its number, and the
    // bytes still leaving its sockets. Only a process the kernel never saw
    // start gets a new one.
    if (!running(tgid) || bpf_map_update_elem(m_tgidApps, &tgid, &value, BPF_NOEXIST) != 0)
        return false;
    if (running(tgid))
        return true;
    bpf_map_delete_elem(m_tgidApps, &tgid); // it ended meanwhile
    return false;
}

bool SocketRegistry::nameProcess(quint32 tgid, quint32 app)
{
    bwc_tgid_app value{};
    if (bpf_map_lookup_elem(m_tgidApps, &tgid, &value) != 0)
        return false;
    value.app = app;
    return bpf_map_update_elem(m_tgidApps, &tgid, &value, BPF_EXIST) == 0;
}

bool SocketRegistry::ranItsOwnProgram(quint32 tgid) const
{
    bwc_tgid_app value{};
    return bpf_map_lookup_elem(m_tgidApps, &tgid, &value) == 0 && value.origin == tgid;
}

bool SocketRegistry::setExecutable(quint32 dev, quint64 ino, quint32 app, bool interpreter)
{
    const bwc_exe_key key{dev, 0, ino};
    const bwc_exe_app value{app, interpreter ? BWC_EXE_INTERPRETER : 0u};
    return bpf_map_update_elem(m_exeApps, &key, &value, BPF_ANY) == 0;
}

bool SocketRegistry::setExecutable(const QString& path, quint32 app, bool interpreter)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    // The kernel keeps a device number as major << 20 | minor.
    const quint32 dev = quint32(major(info.st_dev)) << 20 | quint32(minor(info.st_dev));
    return setExecutable(dev, quint64(info.st_ino), app, interpreter);
}

void SocketRegistry::forgetApplication(quint32 app)
{
    if (app == BWC_APP_UNKNOWN)
        return;
    QList<bwc_exe_key> drop;
    bwc_exe_key key{}, next{};
    bwc_exe_key* previous = nullptr;
    while (bpf_map_get_next_key(m_exeApps, previous, &next) == 0) {
        key = next;
        previous = &key;
        bwc_exe_app value{};
        if (bpf_map_lookup_elem(m_exeApps, &key, &value) == 0 && value.app == app)
            drop.append(key);
    }
    for (const bwc_exe_key& gone : std::as_const(drop)) {
        bwc_exe_app value{};
        // An interpreter stays one; it only stops standing for the forgotten number.
        if (bpf_map_lookup_elem(m_exeApps, &gone, &value) == 0 &&
            (value.flags & BWC_EXE_INTERPRETER)) {
            value.app = BWC_APP_UNKNOWN;
            bpf_map_update_elem(m_exeApps, &gone, &value, BPF_EXIST);
        } else {
            bpf_map_delete_elem(m_exeApps, &gone);
        }
    }
    quint32 tgid = 0, nextTgid = 0;
    quint32* previousTgid = nullptr;
    QList<quint32> named;
    while (bpf_map_get_next_key(m_tgidApps, previousTgid, &nextTgid) == 0) {
        tgid = nextTgid;
        previousTgid = &tgid;
        bwc_tgid_app value{};
        if (bpf_map_lookup_elem(m_tgidApps, &tgid, &value) == 0 &&
            (value.app == app || value.interim == app))
            named.append(tgid);
    }
    for (quint32 process : std::as_const(named)) {
        bwc_tgid_app value{};
        if (bpf_map_lookup_elem(m_tgidApps, &process, &value) != 0)
            continue;
        if (value.app == app) {
            value.app = BWC_APP_UNKNOWN;
            value.sockets &= ~BWC_SOCKETS_ANNOUNCED;
        }
        if (value.interim == app)
            value.interim = BWC_APP_UNKNOWN;
        bpf_map_update_elem(m_tgidApps, &process, &value, BPF_EXIST);
    }
}

void SocketRegistry::forgetProcess(quint32 tgid)
{
    bpf_map_delete_elem(m_tgidApps, &tgid);
}

bool SocketRegistry::holdsSockets(quint32 tgid)
{
    for (int fd : descriptorsOf(tgid)) {
        if (targetOf(tgid, fd).contains(QLatin1String("socket:[")))
            return true;
    }
    return false;
}

int SocketRegistry::tagSocketsOf(quint32 tgid, quint32 app) const
{
    const bwc_sock_tag tag{app, tgid, 0};
    return forEachInetSocket(
        tgid, [&](int fd) { return bpf_map_update_elem(m_sockTags, &fd, &tag, BPF_ANY) == 0; });
}

int SocketRegistry::tagUntaggedSocketsOf(quint32 tgid, quint32 app) const
{
    const bwc_sock_tag tag{app, tgid, 0};
    return forEachInetSocket(tgid, [&](int fd) {
        bwc_sock_tag old{};
        if (bpf_map_lookup_elem(m_sockTags, &fd, &old) == 0 && old.app != BWC_APP_UNKNOWN)
            return false;
        return bpf_map_update_elem(m_sockTags, &fd, &tag, BPF_ANY) == 0;
    });
}

int SocketRegistry::inetSocketsOf(quint32 tgid)
{
    return forEachInetSocket(tgid, [](int) { return true; });
}

int SocketRegistry::forEachInetSocket(quint32 tgid, const std::function<bool(int)>& visit)
{
    const int pidfd = pidfdOpen(pid_t(tgid));
    if (pidfd < 0)
        return -1;
    QSet<QString> seen; // one socket may sit behind several descriptors
    int count = 0;
    for (int remote : descriptorsOf(tgid)) {
        const QString target = targetOf(tgid, remote);
        if (!target.contains(QLatin1String("socket:[")) || seen.contains(target))
            continue;
        seen.insert(target);
        // A copy of the process's descriptor: the kernel finds the socket by it.
        const int fd = pidfdGetfd(pidfd, remote);
        if (fd < 0)
            continue;
        int domain = 0;
        socklen_t length = sizeof(domain);
        if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 &&
            (domain == AF_INET || domain == AF_INET6) && visit(fd)) {
            ++count;
        }
        close(fd);
    }
    close(pidfd);
    return count;
}
