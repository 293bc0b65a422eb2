#include "trafficmonitor.h"

#include "bwcmon.skel.h"
#include "bwcshared.h"

#include <QSocketNotifier>

#include <bpf/bpf.h>
#include <bpf/libbpf.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr bpf_attach_type cgroupHooks[] = {BPF_CGROUP_INET_INGRESS, BPF_CGROUP_INET_EGRESS,
                                           BPF_CGROUP_INET_SOCK_CREATE, BPF_CGROUP_SETSOCKOPT};

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error < 0 ? -error : error));
}

// The cookie of bwcd's own network namespace, 0 when the kernel has none.
quint64 ownNetnsCookie()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    quint64 cookie = 0;
    socklen_t length = sizeof(cookie);
    if (fd < 0 || getsockopt(fd, SOL_SOCKET, SO_NETNS_COOKIE, &cookie, &length) != 0)
        cookie = 0;
    if (fd >= 0)
        close(fd);
    return cookie;
}

} // namespace

TrafficMonitor::TrafficMonitor(QObject* parent) : QObject(parent) {}

TrafficMonitor::~TrafficMonitor()
{
    stop();
}

bool TrafficMonitor::isOurs(const char* programName)
{
    return std::strncmp(programName, "bwc_", 4) == 0;
}

int TrafficMonitor::sweepLeftovers(int cgroupFd)
{
    int swept = 0;
    for (bpf_attach_type hook : cgroupHooks) {
        __u32 ids[64];
        __u32 count = 64;
        __u32 flags = 0;
        if (bpf_prog_query(cgroupFd, hook, 0, &flags, ids, &count) != 0)
            continue;
        for (__u32 i = 0; i < count; ++i) {
            const int prog = bpf_prog_get_fd_by_id(ids[i]);
            if (prog < 0)
                continue;
            bpf_prog_info info{};
            __u32 length = sizeof(info);
            // Programs attached through a link belong to a running process and
            // cannot be detached this way; only the old-style ones are left over.
            if (bpf_obj_get_info_by_fd(prog, &info, &length) == 0 && isOurs(info.name) &&
                bpf_prog_detach2(prog, cgroupFd, hook) == 0) {
                ++swept;
            }
            close(prog);
        }
    }
    return swept;
}

bool TrafficMonitor::start(const QString& cgroupDir, QString* error)
{
    stop();
    libbpf_set_print([](libbpf_print_level level, const char* format, va_list args) {
        return level == LIBBPF_WARN ? vfprintf(stderr, format, args) : 0;
    });
    m_cgroupFd = open(cgroupDir.toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_cgroupFd < 0) {
        *error = QStringLiteral("cannot open the cgroup %1: %2").arg(cgroupDir, reason(errno));
        return false;
    }
    const int swept = sweepLeftovers(m_cgroupFd);
    if (swept > 0)
        qWarning("TrafficMonitor::start(): removed %d BPF programs a previous bwcd left on %s",
                 swept, qPrintable(cgroupDir));

    m_cpus = libbpf_num_possible_cpus();
    // The namespace of each packet first; a kernel that refuses to tell it
    // gets the programs that count every namespace's kernel traffic.
    int result = 0;
    for (const bool homeOnly : {true, false}) {
        if (m_skeleton)
            bwcmon_bpf__destroy(m_skeleton);
        m_skeleton = bwcmon_bpf__open();
        result = m_skeleton ? 0 : -errno;
        if (result != 0)
            break;
        m_skeleton->rodata->home_netns = ownNetnsCookie();
        bpf_program__set_autoload(m_skeleton->progs.bwc_egress, homeOnly);
        bpf_program__set_autoload(m_skeleton->progs.bwc_ingress, homeOnly);
        bpf_program__set_autoload(m_skeleton->progs.bwc_egress_any, !homeOnly);
        bpf_program__set_autoload(m_skeleton->progs.bwc_ingress_any, !homeOnly);
        // A kernel without the socket length tracepoints (before 6.6) counts
        // no packet sockets, and a socket a new program only reads from is
        // its own once user space hears of the exec; everything else holds.
        bpf_program__set_autoload(m_skeleton->progs.bwc_packet_send, homeOnly);
        bpf_program__set_autoload(m_skeleton->progs.bwc_sock_recv, homeOnly);
        bpf_program__set_autoload(m_skeleton->progs.bwc_packet_ring, homeOnly);
        bpf_program__set_autoload(m_skeleton->progs.bwc_packet_ring_setup, homeOnly);
        // A kernel without it (before 6.10) hands TCP sockets over to a new
        // user on its reads and through user space.
        bpf_program__set_autoload(
            m_skeleton->progs.bwc_tcp_send,
            homeOnly && libbpf_find_vmlinux_btf_id("tcp_sendmsg_locked", BPF_TRACE_RAW_TP) > 0);
        result = bwcmon_bpf__load(m_skeleton);
        m_homeOnly = homeOnly;
        if (result == 0)
            break;
    }
    if (result != 0) {
        *error = QStringLiteral("cannot load its BPF programs (%1); it needs BPF with BTF, "
                                "socket storage, cgroup socket and packet programs and raw "
                                "tracepoints")
                     .arg(reason(result));
        stop();
        return false;
    }
    const struct
    {
        bpf_program* program;
        bpf_link** link;
    } cgroupPrograms[] = {
        {m_skeleton->progs.bwc_sock_create, &m_skeleton->links.bwc_sock_create},
        {m_homeOnly ? m_skeleton->progs.bwc_egress : m_skeleton->progs.bwc_egress_any,
         m_homeOnly ? &m_skeleton->links.bwc_egress : &m_skeleton->links.bwc_egress_any},
        {m_homeOnly ? m_skeleton->progs.bwc_ingress : m_skeleton->progs.bwc_ingress_any,
         m_homeOnly ? &m_skeleton->links.bwc_ingress : &m_skeleton->links.bwc_ingress_any},
    };
    for (const auto& entry : cgroupPrograms) {
        *entry.link = bpf_program__attach_cgroup(entry.program, m_cgroupFd);
        if (!*entry.link) {
            *error =
                QStringLiteral("cannot attach %1 to the cgroup %2: %3")
                    .arg(QLatin1String(bpf_program__name(entry.program)), cgroupDir, reason(errno));
            stop();
            return false;
        }
    }
    if (m_homeOnly && !attachPacketCounting(error)) {
        stop();
        return false;
    }
    if (bpf_program__autoload(m_skeleton->progs.bwc_tcp_send)) {
        m_skeleton->links.bwc_tcp_send = bpf_program__attach(m_skeleton->progs.bwc_tcp_send);
        if (!m_skeleton->links.bwc_tcp_send) {
            *error =
                QStringLiteral("cannot attach to the TCP send tracepoint: %1").arg(reason(errno));
            stop();
            return false;
        }
    }
    m_skeleton->links.bwc_exec = bpf_program__attach(m_skeleton->progs.bwc_exec);
    m_skeleton->links.bwc_fork = bpf_program__attach(m_skeleton->progs.bwc_fork);
    m_skeleton->links.bwc_exit = bpf_program__attach(m_skeleton->progs.bwc_exit);
    if (!m_skeleton->links.bwc_exec || !m_skeleton->links.bwc_fork || !m_skeleton->links.bwc_exit) {
        *error = QStringLiteral("cannot attach to the fork, exec and exit tracepoints: %1")
                     .arg(reason(errno));
        stop();
        return false;
    }
    m_ring = ring_buffer__new(bpf_map__fd(m_skeleton->maps.events), &TrafficMonitor::onRingEvent,
                              this, nullptr);
    if (!m_ring) {
        *error = QStringLiteral("cannot read the event ring buffer: %1").arg(reason(errno));
        stop();
        return false;
    }
    m_notifier = new QSocketNotifier(ring_buffer__epoll_fd(m_ring), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TrafficMonitor::drain);
    return true;
}

bool TrafficMonitor::attachPacketCounting(QString* error)
{
    const __u32 index = 0;
    const __u32 cgroupFd = __u32(m_cgroupFd);
    if (bpf_map_update_elem(bpf_map__fd(m_skeleton->maps.scope), &index, &cgroupFd, BPF_ANY) != 0) {
        *error = QStringLiteral("cannot scope packet-socket counting to the cgroup: %1")
                     .arg(reason(errno));
        return false;
    }
    m_skeleton->links.bwc_packet_send = bpf_program__attach(m_skeleton->progs.bwc_packet_send);
    m_skeleton->links.bwc_sock_recv = bpf_program__attach(m_skeleton->progs.bwc_sock_recv);
    m_skeleton->links.bwc_packet_ring_setup =
        bpf_program__attach_cgroup(m_skeleton->progs.bwc_packet_ring_setup, m_cgroupFd);
    if (!m_skeleton->links.bwc_packet_send || !m_skeleton->links.bwc_sock_recv ||
        !m_skeleton->links.bwc_packet_ring_setup) {
        *error = QStringLiteral("cannot attach to the socket send and receive tracepoints: %1")
                     .arg(reason(errno));
        return false;
    }
    return true;
}

void TrafficMonitor::stop()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_ring)
        ring_buffer__free(m_ring);
    m_ring = nullptr;
    if (m_skeleton)
        bwcmon_bpf__destroy(m_skeleton); // detaches every link
    m_skeleton = nullptr;
    if (m_cgroupFd >= 0)
        close(m_cgroupFd);
    m_cgroupFd = -1;
}

int TrafficMonitor::sockTagsFd() const
{
    return m_skeleton ? bpf_map__fd(m_skeleton->maps.sock_tags) : -1;
}

int TrafficMonitor::tgidAppsFd() const
{
    return m_skeleton ? bpf_map__fd(m_skeleton->maps.tgid_apps) : -1;
}

int TrafficMonitor::exeAppsFd() const
{
    return m_skeleton ? bpf_map__fd(m_skeleton->maps.exe_apps) : -1;
}

QHash<quint64, TrafficMonitor::Counts> TrafficMonitor::read() const
{
    QHash<quint64, Counts> all;
    if (!m_skeleton)
        return all;
    const int fd = bpf_map__fd(m_skeleton->maps.traffic);
    std::vector<bwc_traffic> perCpu(size_t(std::max(m_cpus, 1)));
    bwc_traffic_key key{}, next{};
    bwc_traffic_key* previous = nullptr;
    while (bpf_map_get_next_key(fd, previous, &next) == 0) {
        key = next;
        previous = &key;
        if (bpf_map_lookup_elem(fd, &key, perCpu.data()) != 0)
            continue; // deleted meanwhile
        Counts sum;
        for (const bwc_traffic& cpu : perCpu) {
            sum.txBytes += cpu.tx_bytes;
            sum.rxBytes += cpu.rx_bytes;
            sum.txPackets += cpu.tx_packets;
            sum.rxPackets += cpu.rx_packets;
            sum.localTxBytes += cpu.local_tx_bytes;
            sum.localRxBytes += cpu.local_rx_bytes;
        }
        all.insert(TrafficMonitor::key(key.app, key.tgid), sum);
    }
    return all;
}

void TrafficMonitor::forget(quint64 counterKey)
{
    if (!m_skeleton)
        return;
    const bwc_traffic_key key{appOf(counterKey), tgidOf(counterKey)};
    bpf_map_delete_elem(bpf_map__fd(m_skeleton->maps.traffic), &key);
}

namespace {

QByteArray bytesOf(const char* data, bwc_u32 length, bwc_u32 room)
{
    return QByteArray(data, int(std::min(length, room)));
}

ExecRecord recordOf(const bwc_name_event& event)
{
    ExecRecord record;
    record.tgid = event.head.tgid;
    record.dev = event.dev;
    record.ino = event.ino;
    record.uid = event.uid;
    record.gid = event.gid;
    record.mntns = event.mntns;
    record.atExec = event.flags & BWC_NAME_AT_EXEC;
    record.truncated = event.flags & BWC_NAME_TRUNCATED;
    record.interpreter = event.flags & BWC_NAME_INTERPRETER;
    record.exe = bytesOf(event.exe, event.exe_len, sizeof(event.exe));
    record.cwd = bytesOf(event.cwd, event.cwd_len, sizeof(event.cwd));
    QByteArray args = bytesOf(event.args, event.args_len, sizeof(event.args));
    if (args.endsWith('\0'))
        args.chop(1);
    if (!args.isEmpty())
        record.args = args.split('\0');
    return record;
}

} // namespace

int TrafficMonitor::onRingEvent(void* context, void* data, size_t size)
{
    if (size < sizeof(bwc_event))
        return 0;
    bwc_event event;
    std::memcpy(&event, data, sizeof(event));
    Pending pending{int(event.kind), event.tgid, event.parent, event.app, {}};
    if (event.kind == BWC_EVENT_NAME) {
        if (size < sizeof(bwc_name_event))
            return 0;
        pending.record = recordOf(*static_cast<const bwc_name_event*>(data));
    }
    auto* monitor = static_cast<TrafficMonitor*>(context);
    if (event.kind == BWC_EVENT_RING)
        monitor->countRings();
    else
        monitor->m_pending.append(pending);
    return 0;
}

// The frames of receive rings are counted at every socket's data-ready, which
// costs each received packet of the machine a little: only from the first
// ring on. A ring is counted from its start, whenever this comes.
void TrafficMonitor::countRings()
{
    if (m_skeleton->links.bwc_packet_ring)
        return;
    m_skeleton->links.bwc_packet_ring = bpf_program__attach(m_skeleton->progs.bwc_packet_ring);
    if (!m_skeleton->links.bwc_packet_ring)
        qWarning(
            "TrafficMonitor: cannot attach to the socket data-ready tracepoint (%s): frames of "
            "receive rings are not counted",
            qPrintable(reason(errno)));
}

void TrafficMonitor::drain()
{
    if (!m_ring)
        return;
    ring_buffer__consume(m_ring);
    const QList<Pending> events = std::exchange(m_pending, {});
    for (const Pending& event : events) {
        if (event.kind == BWC_EVENT_NAME)
            emit processNamed(event.record);
        else
            emit processEvent(event.kind, event.tgid, event.parent, event.app);
    }
}
