#include "netnslab.h"

#include "cgroupfs.h"
#include "netlinkmessage.h"
#include "netlinksocket.h"
#include "testtagger.skel.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <fcntl.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const Prefix = "bwct";

// Removes a cgroup tree from the leaves up, once its processes are gone.
void removeCgroup(const QString& path)
{
    QDir dir(path);
    if (!dir.exists())
        return;
    for (const QString& child : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        removeCgroup(dir.filePath(child));
    for (int i = 0; i < 50 && ::rmdir(QFile::encodeName(path).constData()) != 0; ++i) {
        QFile procs(path + "/cgroup.procs");
        if (procs.open(QIODevice::ReadOnly)) {
            for (const QByteArray& pid : procs.readAll().split('\n'))
                if (pid.toInt() > 0)
                    ::kill(pid.toInt(), SIGKILL);
        }
        QThread::msleep(20);
    }
}

} // namespace

NetnsLab::NetnsLab(Topology topology) : m_topology(topology)
{
    // A second lab of the same process takes a number of its own.
    static int labs = 0;
    const QString id =
        QString::number(::getpid()) + (labs++ ? QStringLiteral("n%1").arg(labs) : QString());
    m_appNs = Prefix + id + "a";
    m_peerNs = Prefix + id + "p";
    m_hostNs = Prefix + id + "h";
    // Leftovers of runs that died: their process is gone.
    QByteArray list;
    run({"ip", "netns", "list"}, &list);
    const QRegularExpression stale(QStringLiteral("^%1(\\d+)(n\\d+)?[aph]\\b").arg(Prefix));
    for (const QByteArray& line : list.split('\n')) {
        const auto match = stale.match(QString::fromLatin1(line));
        if (match.hasMatch() && ::kill(match.captured(1).toInt(), 0) != 0)
            run({"ip", "netns", "del", line.split(' ').first()});
    }
    const QString root = CgroupFs::mountPoint();
    const QRegularExpression owner(QStringLiteral("^%1(\\d+)").arg(Prefix));
    for (const QString& dir : QDir(root).entryList({QString(Prefix) + "*"}, QDir::Dirs)) {
        const auto match = owner.match(dir);
        if (match.hasMatch() && ::kill(match.captured(1).toInt(), 0) != 0)
            removeCgroup(root + "/" + dir);
    }
    m_cgroup = root.isEmpty() ? QString() : root + "/" + Prefix + id;
    m_homeNs = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    if (!setUp() && m_error.isEmpty())
        m_error = QStringLiteral("cannot set up the test network");
}

NetnsLab::~NetnsLab()
{
    tearDown();
}

bool NetnsLab::setUp()
{
    if (m_cgroup.isEmpty()) {
        m_error = QStringLiteral("no cgroup v2 file system");
        return false;
    }
    QList<QStringList> commands = {
        {"ip", "netns", "add", m_appNs},
        {"ip", "netns", "add", m_peerNs},
        {"ip", "netns", "add", m_hostNs},
        {"ip", "-n", m_appNs, "link", "set", "lo", "up"},
        {"ip", "-n", m_peerNs, "link", "set", "lo", "up"},
        {"ip", "-n", m_hostNs, "link", "set", "lo", "up"},
        {"ip", "-n", m_peerNs, "addr", "add", "10.77.0.2/24", "dev", "bwctp"},
        {"ip", "-n", m_peerNs, "addr", "add", "fd77::2/64", "dev", "bwctp", "nodad"},
        {"ip", "-n", m_peerNs, "link", "set", "bwctp", "up"},
        {"ip", "-n", m_appNs, "link", "set", "bwcta", "up"},
    };
    if (m_topology == Topology::Direct) {
        commands.insert(3, {"ip", "link", "add", "bwcta", "netns", m_appNs, "type", "veth", "peer",
                            "name", "bwctp", "netns", m_peerNs});
        commands += {
            {"ip", "-n", m_appNs, "addr", "add", "10.77.0.1/24", "dev", "bwcta"},
            {"ip", "-n", m_appNs, "addr", "add", "fd77::1/64", "dev", "bwcta", "nodad"},
        };
    } else {
        // The host forwards between its two veth pairs, as between a
        // container's and the network.
        commands.insert(3, {"ip", "link", "add", "bwcta", "netns", m_appNs, "type", "veth", "peer",
                            "name", "bwcth", "netns", m_hostNs});
        commands.insert(4, {"ip", "link", "add", "bwcthp", "netns", m_hostNs, "type", "veth",
                            "peer", "name", "bwctp", "netns", m_peerNs});
        commands += {
            {"ip", "-n", m_appNs, "addr", "add", "10.78.0.1/24", "dev", "bwcta"},
            {"ip", "-n", m_appNs, "addr", "add", "fd78::1/64", "dev", "bwcta", "nodad"},
            {"ip", "-n", m_hostNs, "addr", "add", "10.78.0.254/24", "dev", "bwcth"},
            {"ip", "-n", m_hostNs, "addr", "add", "fd78::fe/64", "dev", "bwcth", "nodad"},
            {"ip", "-n", m_hostNs, "addr", "add", "10.77.0.254/24", "dev", "bwcthp"},
            {"ip", "-n", m_hostNs, "addr", "add", "fd77::fe/64", "dev", "bwcthp", "nodad"},
            {"ip", "-n", m_hostNs, "link", "set", "bwcth", "up"},
            {"ip", "-n", m_hostNs, "link", "set", "bwcthp", "up"},
            {"nsenter", "--net=/run/netns/" + m_hostNs, "sysctl", "-qw", "net.ipv4.ip_forward=1",
             "net.ipv6.conf.all.forwarding=1"},
            {"ip", "-n", m_appNs, "route", "add", "default", "via", "10.78.0.254"},
            {"ip", "-n", m_appNs, "-6", "route", "add", "default", "via", "fd78::fe"},
            {"ip", "-n", m_peerNs, "route", "add", "10.78.0.0/24", "via", "10.77.0.254"},
            {"ip", "-n", m_peerNs, "-6", "route", "add", "fd78::/64", "via", "fd77::fe"},
        };
    }
    for (const QStringList& command : commands) {
        QByteArray output;
        if (run(command, &output) != 0) {
            m_error = command.join(' ') + ": " + QString::fromLocal8Bit(output.trimmed());
            return false;
        }
    }
    // The peer sends about as a wire delivers: a few frames at a time, not
    // the 64 KiB offload packets that only a virtual link carries whole.
    if (!limitPeerSegments()) {
        m_error = QStringLiteral("cannot limit the peer's segmentation offload");
        return false;
    }
    if (::mkdir(QFile::encodeName(m_cgroup).constData(), 0755) != 0) {
        m_error = "cannot create the cgroup " + m_cgroup;
        return false;
    }
    m_tagger = testtagger_bpf__open_and_load();
    if (!m_tagger) {
        m_error = QStringLiteral("cannot load the test tagger");
        return false;
    }
    const int cgroup = ::open(QFile::encodeName(m_cgroup).constData(), O_RDONLY | O_DIRECTORY);
    m_taggerLink = bpf_link_create(bpf_program__fd(m_tagger->progs.tag_socket), cgroup,
                                   BPF_CGROUP_INET_SOCK_CREATE, nullptr);
    ::close(cgroup);
    if (m_taggerLink < 0) {
        m_error = QStringLiteral("cannot attach the test tagger");
        return false;
    }
    return true;
}

bool NetnsLab::addTunnel(const QStringList& relay)
{
    const QString sides[2][2] = {{m_appNs, "1"}, {m_peerNs, "2"}};
    for (const auto& side : sides) {
        const QList<QStringList> commands = {
            {"ip", "-n", side[0], "tuntap", "add", "bwcttun", "mode", "tun"},
            {"ip", "-n", side[0], "addr", "add", "10.79.0." + side[1] + "/30", "dev", "bwcttun"},
            {"ip", "-n", side[0], "addr", "add", "fd79::" + side[1] + "/64", "dev", "bwcttun",
             "nodad"},
            {"ip", "-n", side[0], "link", "set", "bwcttun", "up"},
        };
        for (const QStringList& command : commands) {
            if (run(command) != 0)
                return false;
        }
    }
    m_relay = start(m_appNs, 0, relay + QStringList{"/run/netns/" + m_peerNs, "bwcttun"});
    return m_relay->waitForReadyRead(5000);
}

void NetnsLab::removeTunnel()
{
    if (m_relay) {
        m_relay->kill();
        m_relay->waitForFinished(5000);
        m_relay = nullptr;
    }
    for (const QString& ns : {m_appNs, m_peerNs})
        run({"ip", "-n", ns, "link", "del", "bwcttun"});
}

bool NetnsLab::limitPeerSegments()
{
    const int fd = ::open(QFile::encodeName("/run/netns/" + m_peerNs).constData(), O_RDONLY);
    if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    int result = -1;
    {
        NetlinkSocket netlink(NETLINK_ROUTE);
        NetlinkMessage message(RTM_NEWLINK, 0);
        ifinfomsg* info = message.appendHeader<ifinfomsg>();
        info->ifi_family = AF_UNSPEC;
        info->ifi_index = int(if_nametoindex("bwctp"));
        message.putU32(IFLA_GSO_MAX_SEGS, 4);
        result = netlink.request(message);
    }
    leaveAppNetns();
    return result == 0;
}

void NetnsLab::tearDown()
{
    for (auto& process : m_processes) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    m_processes.clear();
    leaveAppNetns();
    if (m_taggerLink >= 0)
        ::close(m_taggerLink);
    if (m_tagger)
        testtagger_bpf__destroy(m_tagger);
    if (!m_cgroup.isEmpty())
        removeCgroup(m_cgroup);
    run({"ip", "netns", "del", m_appNs});
    run({"ip", "netns", "del", m_peerNs});
    run({"ip", "netns", "del", m_hostNs});
    if (m_homeNs >= 0)
        ::close(m_homeNs);
}

QString NetnsLab::appAddress(bool ipv6) const
{
    if (m_topology == Topology::Routed)
        return ipv6 ? QStringLiteral("fd78::1") : QStringLiteral("10.78.0.1");
    return ipv6 ? QStringLiteral("fd77::1") : QStringLiteral("10.77.0.1");
}

int NetnsLab::tagMapFd() const
{
    return m_tagger ? bpf_map__fd(m_tagger->maps.sock_tags) : -1;
}

bool NetnsLab::enterAppNetns()
{
    const int fd = ::open(QFile::encodeName("/run/netns/" + m_appNs).constData(), O_RDONLY);
    const bool ok = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

void NetnsLab::leaveAppNetns()
{
    if (m_homeNs >= 0)
        ::setns(m_homeNs, CLONE_NEWNET);
}

QString NetnsLab::appCgroup(quint32 app)
{
    const QString path = m_cgroup + "/app" + QString::number(app);
    if (::mkdir(QFile::encodeName(path).constData(), 0755) == 0) {
        struct stat info
        {
        };
        ::stat(QFile::encodeName(path).constData(), &info);
        const __u64 id = info.st_ino; // a cgroup's id is its directory's inode
        bpf_map_update_elem(bpf_map__fd(m_tagger->maps.cgroup_apps), &id, &app, BPF_ANY);
    }
    return path;
}

QProcess* NetnsLab::start(const QString& netns, quint32 app, const QStringList& command)
{
    // nsenter keeps /sys (ip netns exec would remount it and hide the cgroups).
    QString script = QStringLiteral("exec nsenter --net=/run/netns/%1 \"$@\"").arg(netns);
    if (app)
        script.prepend(
            QStringLiteral("echo $$ > %1/cgroup.procs || exit 99; ").arg(appCgroup(app)));
    auto process = std::make_unique<QProcess>();
    process->setProgram(QStringLiteral("sh"));
    process->setArguments(QStringList{"-c", script, "sh"} + command);
    process->start();
    process->waitForStarted(5000);
    m_processes.push_back(std::move(process));
    return m_processes.back().get();
}

int NetnsLab::run(const QStringList& command, QByteArray* output, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return -1;
    }
    if (output)
        *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}
