#include "peercounter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// IP and TCP header bytes of each of a connection's segments after the handshake.
int segmentHeader(int fd, const tcp_info& info)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof(peer);
    bool v4 = true;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
        peer.ss_family == AF_INET6)
        v4 = IN6_IS_ADDR_V4MAPPED(&reinterpret_cast<sockaddr_in6*>(&peer)->sin6_addr);
    return (v4 ? 20 : 40) + 20 + ((info.tcpi_options & TCPI_OPT_TIMESTAMPS) ? 12 : 0);
}

// A named field of a /proc/net table whose lines come in pairs, names then values.
quint64 pairedField(const QByteArray& table, const QByteArray& prefix, const QByteArray& name)
{
    const QList<QByteArray> lines = table.split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].startsWith(prefix) || !lines[i + 1].startsWith(prefix))
            continue;
        const QList<QByteArray> names = lines[i].simplified().split(' ');
        const QList<QByteArray> values = lines[i + 1].simplified().split(' ');
        const int at = int(names.indexOf(name));
        if (at > 0 && at < values.size())
            return values[at].toULongLong();
    }
    return 0;
}

quint64 namedField(const QByteArray& table, const QByteArray& name)
{
    for (const QByteArray& line : table.split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() == 2 && words[0] == name)
            return words[1].toULongLong();
    }
    return 0;
}

} // namespace

PeerCounter::PeerCounter(qint64 pid, Direction direction) : m_pid(pid), m_direction(direction) {}

PeerCounter::PeerCounter(const QString& netns, Direction direction)
    : m_netns(netns), m_direction(direction)
{
    if (!readIpLayer(&m_baseline))
        m_netns.clear(); // unreadable: read() says so
}

PeerCounter::~PeerCounter()
{
    for (int fd : std::as_const(m_sockets))
        close(fd);
    if (m_pidfd >= 0)
        close(m_pidfd);
}

bool PeerCounter::read(quint64* bytes)
{
    if (m_pid > 0)
        return readSockets(bytes);
    if (m_netns.isEmpty() || !readIpLayer(bytes))
        return false;
    *bytes -= m_baseline;
    return true;
}

void PeerCounter::adoptNewSockets()
{
    if (m_pidfd < 0)
        m_pidfd = int(syscall(SYS_pidfd_open, pid_t(m_pid), 0));
    if (m_pidfd < 0)
        return; // gone: what was adopted is all there is
    const QString fds = QStringLiteral("/proc/%1/fd").arg(m_pid);
    for (const QString& entry : QDir(fds).entryList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFileInfo(fds + QLatin1Char('/') + entry).symLinkTarget();
        if (!target.contains(QLatin1String("socket:[")))
            continue;
        const int fd = int(syscall(SYS_pidfd_getfd, m_pidfd, entry.toInt(), 0));
        if (fd < 0)
            continue;
        struct stat status
        {
        };
        int protocol = 0;
        socklen_t length = sizeof(protocol);
        if (fstat(fd, &status) != 0 || m_sockets.contains(quint64(status.st_ino)) ||
            getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &length) != 0 ||
            protocol != IPPROTO_TCP) {
            close(fd);
            continue;
        }
        m_sockets.insert(quint64(status.st_ino), fd);
    }
}

bool PeerCounter::readSockets(quint64* bytes)
{
    adoptNewSockets();
    quint64 sum = 0;
    for (int fd : std::as_const(m_sockets)) {
        tcp_info info{};
        socklen_t length = sizeof(info);
        if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
            return false;
        const quint64 header = m_payloadOnly ? 0 : quint64(segmentHeader(fd, info));
        if (m_direction == PeerReceives)
            sum += info.tcpi_bytes_received + header * info.tcpi_segs_in;
        else
            sum += info.tcpi_bytes_sent + header * info.tcpi_segs_out;
    }
    *bytes = sum;
    return true;
}

bool PeerCounter::readIpLayer(quint64* bytes) const
{
    // This thread visits the namespace for as long as two reads take.
    const int home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int there = open(QFile::encodeName(m_netns).constData(), O_RDONLY | O_CLOEXEC);
    const bool entered = home >= 0 && there >= 0 && setns(there, CLONE_NEWNET) == 0;
    QByteArray v4, v6;
    if (entered) {
        QFile netstat(QStringLiteral("/proc/thread-self/net/netstat"));
        QFile snmp6(QStringLiteral("/proc/thread-self/net/snmp6"));
        if (netstat.open(QIODevice::ReadOnly) && snmp6.open(QIODevice::ReadOnly)) {
            v4 = netstat.readAll();
            v6 = snmp6.readAll();
        }
        if (setns(home, CLONE_NEWNET) != 0)
            qFatal("cannot return to the test's own network namespace");
    }
    for (int fd : {home, there}) {
        if (fd >= 0)
            close(fd);
    }
    if (v4.isEmpty() || v6.isEmpty())
        return false;
    const bool in = m_direction == PeerReceives;
    *bytes = pairedField(v4, "IpExt:", in ? "InOctets" : "OutOctets") +
             namedField(v6, in ? "Ip6InOctets" : "Ip6OutOctets");
    return true;
}
