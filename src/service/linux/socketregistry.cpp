#include "socketregistry.h"

#include "bwcshared.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <bpf/bpf.h>

#include <sys/socket.h>
#include <sys/syscall.h>
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

} // namespace

SocketRegistry::SocketRegistry(int sockTagsFd, int tgidAppsFd, qint64 quarantineMs)
    : m_sockTags(sockTagsFd), m_tgidApps(tgidAppsFd), m_numbering(0, quarantineMs)
{}

bool SocketRegistry::setProcessApp(quint32 tgid, quint32 app)
{
    const bwc_tgid_app value{app};
    return bpf_map_update_elem(m_tgidApps, &tgid, &value, BPF_ANY) == 0;
}

void SocketRegistry::forgetProcess(quint32 tgid)
{
    bpf_map_delete_elem(m_tgidApps, &tgid);
}

bool SocketRegistry::holdsSockets(quint32 tgid)
{
    const QString fdDir = QStringLiteral("/proc/%1/fd/").arg(tgid);
    const QStringList fds =
        QDir(fdDir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : fds) {
        if (QFile::symLinkTarget(fdDir + name).contains(QLatin1String("socket:[")))
            return true;
    }
    return false;
}

int SocketRegistry::tagSocketsOf(quint32 tgid, quint32 app) const
{
    const bwc_sock_tag tag{app, tgid};
    return forEachInetSocket(
        tgid, [&](int fd) { return bpf_map_update_elem(m_sockTags, &fd, &tag, BPF_ANY) == 0; });
}

int SocketRegistry::tagUntaggedSocketsOf(quint32 tgid, quint32 app) const
{
    const bwc_sock_tag tag{app, tgid};
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
    const QString fdDir = QStringLiteral("/proc/%1/fd").arg(tgid);
    const QStringList fds =
        QDir(fdDir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    QSet<QString> seen; // one socket may sit behind several descriptors
    int count = 0;
    for (const QString& name : fds) {
        const QString target = QFile::symLinkTarget(fdDir + QLatin1Char('/') + name);
        if (!target.contains(QLatin1String("socket:[")) || seen.contains(target))
            continue;
        seen.insert(target);
        bool ok = false;
        const int remote = name.toInt(&ok);
        if (!ok)
            continue;
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
