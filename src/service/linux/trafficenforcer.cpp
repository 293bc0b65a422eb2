#include "trafficenforcer.h"

#include "capsharer.h"
#include "ifbdevice.h"
#include "localnetwork.h"
#include "netlinkmessage.h"
#include "netnsfinder.h"
#include "socketterminator.h"

#include <QFile>
#include <QSet>
#include <QtDebug>

#include <fcntl.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <linux/rtnetlink.h>

#include <cstring>

namespace {

// A cap is what a program moves, the trees count what the wire carries. A
// full-size frame is charged as this many bytes less than its length, the
// headers below the applications' data: between UDP over IPv4 (28) and TCP
// over IPv6 with timestamps (72), so that full-size packets of either miss
// the cap by less than 1 % over or 2.5 % under. The rates of a device's tree
// are raised by the ratio (frame / what it carries), which holds the same for
// a frame, an offload packet (its length counts the headers of every
// segment) and the segments it is cut into.
constexpr quint64 NetworkHeaders = 38;
constexpr quint64 EthernetHeader = 14;

// getsockopt: the cookie of a socket's network namespace (Linux 5.14), as
// the BPF programs read it; older C libraries do not name it.
constexpr int NetnsCookie = 71;

// Room for a frame's link header beyond the device's MTU (Ethernet, VLAN tags).
constexpr quint64 FrameHeaders = 32;
// Offload packets longer than this much of a leaf's ceiling are cut into
// frames before the leaf: a packet that long would show as an uneven second.
constexpr quint64 CutAfterMs = 10;
// A leaf's queue holds this many full frames, or this much of its ceiling.
constexpr quint64 QueueFrames = 1000;
constexpr quint64 QueueMs = 100;

// A device's full frame and the part of it that a cap counts.
struct FrameShare
{
    quint64 frame;
    quint64 carried;
    quint64 onWire(quint64 rate) const
    {
        return rate >= (~0ull / frame) ? rate : rate * frame / carried;
    }
};

FrameShare frameShareOf(int mtu, bool ethernet)
{
    const quint64 frame = quint64(qMax(mtu, 576)) + (ethernet ? EthernetHeader : 0);
    return {frame, frame - NetworkHeaders - (ethernet ? EthernetHeader : 0)};
}

HtbShaper::ClassParams onWire(HtbShaper::ClassParams params, const FrameShare& share)
{
    params.rate = share.onWire(params.rate);
    params.ceil = share.onWire(params.ceil);
    return params;
}

// A leaf's part of its cap on one device, where the cap is shared.
HtbShaper::ClassParams sharedLeaf(HtbShaper::ClassParams leaf, double share)
{
    if (share >= 1.0)
        return leaf;
    leaf.ceil = std::max<quint64>(quint64(double(leaf.ceil) * share), 1);
    leaf.rate = std::min(leaf.rate, leaf.ceil);
    return leaf;
}

// A share moves by at least this much, so that the trees are not changed
// every second for the noise of the counts.
constexpr double ShareStep = 0.02;

bool sameParams(const HtbShaper::ClassParams& a, const HtbShaper::ClassParams& b)
{
    return a.minor == b.minor && a.rate == b.rate && a.ceil == b.ceil && a.prio == b.prio &&
           a.quantum == b.quantum;
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(-error));
}

} // namespace

class TrafficEnforcer::NetnsScope
{
public:
    NetnsScope(int target, int home) : m_home(home)
    {
        if (::setns(target, CLONE_NEWNET) != 0)
            qWarning("TrafficEnforcer: cannot enter a network namespace: %s",
                     qPrintable(errorText(-errno)));
    }
    ~NetnsScope() { ::setns(m_home, CLONE_NEWNET); }
    NetnsScope(const NetnsScope&) = delete;
    NetnsScope& operator=(const NetnsScope&) = delete;

private:
    int m_home;
};

TrafficEnforcer::TrafficEnforcer() = default;

TrafficEnforcer::~TrafficEnforcer()
{
    stop();
    m_spaces.clear();
    if (m_homeNetnsFd >= 0)
        ::close(m_homeNetnsFd);
}

bool TrafficEnforcer::start(const Options& options, QString* error)
{
    m_options = options;
    const QString own =
        options.netns.isEmpty() ? QStringLiteral("/proc/thread-self/ns/net") : options.netns;
    m_homeNetnsFd = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int ownFd = ::open(QFile::encodeName(own).constData(), O_RDONLY | O_CLOEXEC);
    struct stat info
    {
    };
    if (m_homeNetnsFd < 0 || ownFd < 0 || ::fstat(ownFd, &info) != 0) {
        if (ownFd >= 0)
            ::close(ownFd);
        *error = QStringLiteral("cannot open the network namespace %1").arg(own);
        return false;
    }
    m_ownInode = quint64(info.st_ino);
    std::unique_ptr<Space> space = openSpace(ownFd);
    if (!space) {
        *error = QStringLiteral("cannot open a netlink socket: %1").arg(errorText(-errno));
        return false;
    }
    Space* ownSpace = space.get();
    m_spaces[m_ownInode] = std::move(space);
    if (!m_programs.load(options.tagMapFd, options.processMapFd, error) ||
        !m_programs.attachCgroup(options.cgroup, error))
        return false;
    QString why;
    {
        const NetnsScope scope(ownSpace->fd, m_homeNetnsFd);
        m_downloadShaping = m_programs.canAttachDownload(&why);
    }
    if (!m_downloadShaping)
        qWarning("bwcd: downloads are not shaped: this kernel does not attach tc BPF programs "
                 "through links (Linux 6.6 or later): %s; upload caps, the upload maximum, "
                 "priorities on upload and blocking hold",
                 qPrintable(why));
    m_started = true;
    syncDevices();
    sweepNamespaces();
    return true;
}

void TrafficEnforcer::sweepNamespaces()
{
    // A namespace is swept when it is followed, but only while a rule needs
    // trees: a crashed run's trees would go on shaping a container (its
    // global maximum, say) under rules that no longer need one.
    const QMap<quint64, quint32> found =
        NetnsFinder(m_options.wholeMachine ? QString() : m_options.cgroup).find();
    const auto sweep = [this](int fd) {
        std::unique_ptr<Space> space = fd >= 0 ? openSpace(fd) : nullptr;
        if (space)
            releaseSpace(space.get());
    };
    for (auto it = found.constBegin(); it != found.constEnd(); ++it) {
        if (!m_spaces.count(it.key()))
            sweep(NetnsFinder::openOf(it.value(), it.key()));
    }
    // A container whose processes all ended while the crashed run shaped it
    // keeps its namespace as long as its runtime holds it mounted, and would
    // keep the trees too: whoever is governed, every mounted namespace is
    // looked at once (what is removed there is only ever this service's).
    const QMap<quint64, QString> pinned = NetnsFinder::pinned();
    for (auto it = pinned.constBegin(); it != pinned.constEnd(); ++it) {
        if (!m_spaces.count(it.key()) && !found.contains(it.key()))
            sweep(NetnsFinder::openPinned(it.value(), it.key()));
    }
}

std::unique_ptr<TrafficEnforcer::Space> TrafficEnforcer::openSpace(int fd)
{
    auto space = std::make_unique<Space>();
    space->fd = fd;
    const NetnsScope scope(fd, m_homeNetnsFd);
    space->netlink = std::make_unique<NetlinkSocket>(NETLINK_ROUTE);
    socklen_t length = sizeof space->cookie;
    if (!space->netlink->isOpen() ||
        ::getsockopt(space->netlink->fd(), SOL_SOCKET, NetnsCookie, &space->cookie, &length) != 0) {
        ::close(fd);
        return nullptr;
    }
    // What a run that ended without cleaning up left here.
    removeLeftovers(space.get());
    return space;
}

void TrafficEnforcer::releaseSpace(Space* space)
{
    {
        const NetnsScope scope(space->fd, m_homeNetnsFd);
        for (Device& device : space->devices)
            clearDevice(space, &device);
        space->devices.clear();
        space->netlink.reset();
    }
    ::close(space->fd);
    space->fd = -1;
}

void TrafficEnforcer::followContainers()
{
    // The backend's tick of a second may come a little early.
    constexpr qint64 PeriodMs = 900;
    if (!m_started || !treesNeeded() ||
        (m_sinceFollowed.isValid() && m_sinceFollowed.elapsed() < PeriodMs))
        return;
    for (auto& entry : m_spaces) {
        if (entry.first != m_ownInode)
            syncSpace(entry.second.get());
    }
    followNamespaces();
    shareCaps();
}

void TrafficEnforcer::shareCaps()
{
    const double seconds = m_sinceShared.isValid() ? double(m_sinceShared.restart()) / 1000 : 0;
    if (!m_sinceShared.isValid())
        m_sinceShared.start();
    if (!m_started || !m_plan.enabled)
        return;
    QSet<Device*> changed;
    shareDirection(false, seconds, &changed);
    shareDirection(true, seconds, &changed);
    if (changed.isEmpty())
        return;
    for (auto& entry : m_spaces) {
        Space* space = entry.second.get();
        QList<Device*> here;
        for (Device& device : space->devices) {
            if (changed.contains(&device))
                here.append(&device);
        }
        if (here.isEmpty())
            continue;
        const NetnsScope scope(space->fd, m_homeNetnsFd);
        for (Device* device : std::as_const(here))
            applyDevice(space, device, false);
    }
}

void TrafficEnforcer::shareDirection(bool download, double seconds, QSet<Device*>* changed)
{
    const EnforcementPlan::Tree& tree = download ? m_plan.download : m_plan.upload;
    if (!tree.needed)
        return;
    struct Site
    {
        Device* device = nullptr;
        TreeState* state = nullptr;
        std::map<quint16, HtbShaper::ClassCount> now;
    };
    QList<Site> sites;
    for (auto& entry : m_spaces) {
        for (Device& device : entry.second->devices) {
            Site site{&device, download ? &device.download : &device.upload, {}};
            const int ifindex = download ? device.ifbIndex : device.link.ifindex;
            if (!site.state->installed || !ifindex)
                continue;
            HtbShaper(entry.second->netlink.get(), ifindex, download ? DownloadMajor : UploadMajor)
                .classCounts(&site.now);
            sites.append(std::move(site));
        }
    }
    for (const HtbShaper::ClassParams& leaf : tree.leaves) {
        if (leaf.ceil >= EnforcementPlan::Unlimited)
            continue;
        QList<CapSharer::Use> uses;
        for (const Site& site : std::as_const(sites)) {
            CapSharer::Use use;
            const auto now = site.now.find(leaf.minor);
            const auto before = site.state->counts.find(leaf.minor);
            if (seconds > 0 && now != site.now.end() && before != site.state->counts.end() &&
                now->second.bytes >= before->second.bytes) {
                use.rate = double(now->second.bytes - before->second.bytes) / seconds;
                use.held =
                    now->second.overlimits != before->second.overlimits || now->second.backlog > 0;
            }
            uses.append(use);
        }
        const QList<double> shares = CapSharer::shares(uses, double(leaf.ceil));
        for (int i = 0; i < sites.size(); ++i) {
            const double current = sites[i].state->shares.value(leaf.minor, 1.0);
            if (qAbs(shares[i] - current) < ShareStep && !(shares[i] == 1.0 && current != 1.0))
                continue;
            sites[i].state->shares.insert(leaf.minor, shares[i]);
            changed->insert(sites[i].device);
        }
    }
    for (Site& site : sites)
        site.state->counts = std::move(site.now);
}

QList<quint64> TrafficEnforcer::followedNamespaces() const
{
    QList<quint64> inodes;
    for (const auto& entry : m_spaces)
        inodes.append(entry.first);
    return inodes;
}

bool TrafficEnforcer::treesNeeded() const
{
    return m_plan.enabled && (m_plan.upload.needed || m_plan.download.needed);
}

void TrafficEnforcer::followNamespaces()
{
    m_sinceFollowed.start();
    // No tree anywhere: nothing to follow (blocking needs none).
    const QMap<quint64, quint32> found =
        treesNeeded() ? NetnsFinder(m_options.wholeMachine ? QString() : m_options.cgroup).find()
                      : QMap<quint64, quint32>();
    for (auto it = m_spaces.begin(); it != m_spaces.end();) {
        if (it->first == m_ownInode || found.contains(it->first)) {
            ++it;
            continue;
        }
        releaseSpace(it->second.get());
        it = m_spaces.erase(it);
    }
    for (auto it = found.constBegin(); it != found.constEnd(); ++it) {
        if (m_spaces.count(it.key()))
            continue;
        const int fd = NetnsFinder::openOf(it.value(), it.key());
        std::unique_ptr<Space> space = fd >= 0 ? openSpace(fd) : nullptr;
        if (!space)
            continue; // gone already
        syncSpace(space.get());
        m_spaces[it.key()] = std::move(space);
    }
}

void TrafficEnforcer::stop()
{
    if (!m_started)
        return;
    m_started = false;
    bwc_enforce_config off{};
    m_programs.setConfig(off);
    for (auto& entry : m_spaces)
        releaseSpace(entry.second.get());
    m_spaces.clear();
}

void TrafficEnforcer::removeLeftovers(Space* space)
{
    NetlinkSocket* netlink = space->netlink.get();
    for (int ifb : IfbDevice::leftovers(netlink))
        IfbDevice::remove(netlink, ifb);
    // The kernel deletes a root qdisc only when its handle is the one named:
    // another program's qdisc stays.
    for (const Link& link : shapeableLinks(netlink))
        HtbShaper(netlink, link.ifindex, UploadMajor).uninstall();
}

QList<TrafficEnforcer::Link> TrafficEnforcer::shapeableLinks(NetlinkSocket* netlink)
{
    QList<Link> links;
    NetlinkMessage message(RTM_GETLINK, 0);
    message.appendHeader<ifinfomsg>()->ifi_family = AF_UNSPEC;
    netlink->dump(message, [&links](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWLINK)
            return;
        const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(h));
        if ((info->ifi_flags & IFF_LOOPBACK) || !(info->ifi_flags & IFF_UP))
            return;
        Link link;
        link.ifindex = info->ifi_index;
        link.ethernet = info->ifi_type == ARPHRD_ETHER;
        int left = int(IFLA_PAYLOAD(h));
        for (const rtattr* a = IFLA_RTA(info); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
            if (a->rta_type == IFLA_IFNAME)
                link.name = QString::fromLatin1(static_cast<const char*>(RTA_DATA(a)));
            else if (a->rta_type == IFLA_MTU && RTA_PAYLOAD(a) >= sizeof(quint32))
                link.mtu = int(*static_cast<const quint32*>(RTA_DATA(a)));
        }
        if (!link.name.startsWith(QLatin1String(IfbDevice::NamePrefix)))
            links.append(link);
    });
    return links;
}

void TrafficEnforcer::syncDevices()
{
    if (!m_started)
        return;
    for (auto& entry : m_spaces)
        syncSpace(entry.second.get());
    followNamespaces();
    m_lanPrefixesCurrent = false;
    if (m_plan.enabled && m_plan.lanExempt)
        refreshLanPrefixes();
}

void TrafficEnforcer::syncSpace(Space* space)
{
    const NetnsScope scope(space->fd, m_homeNetnsFd);
    const QList<Link> links = shapeableLinks(space->netlink.get());
    QSet<int> present;
    for (const Link& link : links) {
        present.insert(link.ifindex);
        if (!space->devices.contains(link.ifindex)) {
            Device device;
            device.link = link;
            space->devices.insert(link.ifindex, device);
            applyDevice(space, &space->devices[link.ifindex], true);
        }
    }
    for (auto it = space->devices.begin(); it != space->devices.end();) {
        if (present.contains(it.key())) {
            ++it;
            continue;
        }
        // The device is gone, and its qdiscs with it; its IFB is ours to remove.
        dropDownload(space, &it.value());
        it = space->devices.erase(it);
    }
}

void TrafficEnforcer::refreshLanPrefixes()
{
    Space* own = m_spaces.at(m_ownInode).get();
    const NetnsScope scope(own->fd, m_homeNetnsFd);
    m_programs.setLanPrefixes(LocalNetwork::prefixes(own->netlink.get()));
    m_lanPrefixesCurrent = true;
}

void TrafficEnforcer::apply(const ShapingPolicy& policy, const QMap<quint32, QString>& apps)
{
    m_plan = EnforcementPlan::build(policy, apps, &m_minors);
    if (!m_started)
        return;
    if (!m_plan.enabled) {
        // One map write lets every packet pass; the trees go afterwards.
        bwc_enforce_config off{};
        m_programs.setConfig(off);
        for (auto& entry : m_spaces) {
            const NetnsScope scope(entry.second->fd, m_homeNetnsFd);
            for (Device& device : entry.second->devices)
                clearDevice(entry.second.get(), &device);
        }
        followNamespaces();
        return;
    }
    // New and changed classes first, so that no rule points at a missing one;
    // then the rules; then what no rule points at any more.
    followNamespaces();
    for (auto& entry : m_spaces) {
        const NetnsScope scope(entry.second->fd, m_homeNetnsFd);
        for (Device& device : entry.second->devices)
            applyDevice(entry.second.get(), &device, false);
    }
    QSet<quint32> newlyBlocked;
    for (auto it = m_plan.rules.constBegin(); it != m_plan.rules.constEnd(); ++it) {
        if ((it->flags & BWC_RULE_BLOCKED) &&
            !(m_writtenRules.value(it.key()).flags & BWC_RULE_BLOCKED))
            newlyBlocked.insert(it.key());
    }
    writeRules();
    // The programs stop every packet from now on; connections that were open
    // end at once rather than hang.
    if (!newlyBlocked.isEmpty())
        terminateEverywhere(newlyBlocked);
    for (auto& entry : m_spaces) {
        const NetnsScope scope(entry.second->fd, m_homeNetnsFd);
        for (Device& device : entry.second->devices)
            applyDevice(entry.second.get(), &device, true);
    }
}

void TrafficEnforcer::terminateEverywhere(const QSet<quint32>& apps)
{
    // Sockets are found in the namespace they live in, and a blocked
    // program's may be in any: those of the governed processes, and ours.
    QMap<quint64, quint32> spaces =
        NetnsFinder(m_options.wholeMachine ? QString() : m_options.cgroup).find();
    spaces.insert(m_ownInode, 0);
    for (auto it = spaces.constBegin(); it != spaces.constEnd(); ++it) {
        const int fd = it.key() == m_ownInode ? ::dup(m_spaces.at(m_ownInode)->fd)
                                              : NetnsFinder::openOf(it.value(), it.key());
        if (fd < 0)
            continue;
        int ended = 0;
        {
            const NetnsScope scope(fd, m_homeNetnsFd);
            ended = SocketTerminator::terminate(m_programs.tagMapFd(), apps);
        }
        ::close(fd);
        if (ended < 0)
            qWarning("TrafficEnforcer: cannot end the connections of blocked applications: %s",
                     qPrintable(errorText(ended)));
    }
}

void TrafficEnforcer::writeRules()
{
    for (auto it = m_plan.rules.constBegin(); it != m_plan.rules.constEnd(); ++it) {
        const auto old = m_writtenRules.constFind(it.key());
        if (old != m_writtenRules.constEnd() &&
            std::memcmp(&old.value(), &it.value(), sizeof(bwc_app_rule)) == 0)
            continue;
        if (!m_programs.setRule(it.key(), it.value()))
            qWarning("TrafficEnforcer::writeRules(): cannot write the rule of application %u",
                     it.key());
    }
    for (auto it = m_writtenRules.constBegin(); it != m_writtenRules.constEnd(); ++it) {
        if (!m_plan.rules.contains(it.key()))
            m_programs.removeRule(it.key());
    }
    m_writtenRules = m_plan.rules;
    bwc_enforce_config config{};
    config.enabled = 1;
    // Address and device changes keep the list while the exception holds, so
    // a policy change reads the addresses only when the exception comes on.
    if (m_plan.lanExempt && !m_lanPrefixesCurrent)
        refreshLanPrefixes();
    config.flags = (m_options.wholeMachine ? BWC_CONFIG_SHAPE_UNTAGGED : 0) |
                   (m_plan.download.catchesAll ? BWC_CONFIG_DOWNLOAD_ALL : 0) |
                   (m_plan.lanExempt ? BWC_CONFIG_LAN_EXEMPT : 0);
    config.upload_handle = quint32(UploadMajor) << 16;
    config.download_handle = quint32(DownloadMajor) << 16;
    config.fallback = m_plan.fallback;
    if (!m_programs.setConfig(config))
        qWarning("TrafficEnforcer::writeRules(): cannot switch the programs on");
}

void TrafficEnforcer::applyDevice(Space* space, Device* device, bool prune)
{
    if (!m_plan.enabled)
        return;
    NetlinkSocket* netlink = space->netlink.get();
    HtbShaper upload(netlink, device->link.ifindex, UploadMajor);
    applyTree(device->link, device->link.name, &upload, m_plan.upload, &device->upload, prune);
    // Received packets reach the IFB with an Ethernet header, their own or
    // one the classifier gave them.
    Link ifbLink = device->link;
    ifbLink.ethernet = true;

    if (!m_plan.download.needed || !m_downloadShaping) {
        if (prune)
            dropDownload(space, device);
        return;
    }
    if (!device->ifbIndex) {
        const int ifb = IfbDevice::create(netlink, device->link.ifindex);
        if (ifb < 0) {
            qWarning("TrafficEnforcer: cannot create the download device of %s: %s",
                     qPrintable(device->link.name), qPrintable(errorText(ifb)));
            return;
        }
        device->ifbIndex = ifb;
        device->download = TreeState();
    }
    HtbShaper download(netlink, device->ifbIndex, DownloadMajor);
    applyTree(ifbLink, IfbDevice::nameFor(device->link.ifindex), &download, m_plan.download,
              &device->download, prune);
    QString error;
    if (!m_programs.hasDownload(space->cookie, device->link.ifindex) &&
        !m_programs.attachDownload(space->cookie, device->link.ifindex, device->ifbIndex,
                                   device->link.ethernet ? int(EthernetHeader) : 0, &error))
        qWarning("TrafficEnforcer: %s", qPrintable(error));
}

void TrafficEnforcer::applyTree(const Link& link, const QString& where, HtbShaper* shaper,
                                const EnforcementPlan::Tree& tree, TreeState* state, bool prune)
{
    const FrameShare share = frameShareOf(link.mtu, link.ethernet);
    auto check = [&where](int result, const char* what) {
        if (result < 0)
            qWarning("TrafficEnforcer: %s on %s failed: %s", what, qPrintable(where),
                     qPrintable(errorText(result)));
        return result >= 0;
    };
    if (!tree.needed) {
        if (prune && state->installed) {
            check(shaper->uninstall(), "removing the shaper");
            *state = TreeState();
        }
        return;
    }
    if (!state->installed) {
        if (!check(shaper->install(EnforcementPlan::OtherMinor), "installing the shaper"))
            return;
        *state = TreeState();
        state->installed = true;
    }
    if (!sameParams(state->root, tree.root) &&
        check(shaper->setClass(0, onWire(tree.root, share)), "setting the maximum"))
        state->root = tree.root;
    for (const HtbShaper::ClassParams& planned : tree.leaves) {
        const HtbShaper::ClassParams leaf =
            sharedLeaf(planned, state->shares.value(planned.minor, 1.0));
        const auto old = state->leaves.constFind(leaf.minor);
        if (old != state->leaves.constEnd() && sameParams(old.value(), leaf))
            continue;
        const HtbShaper::ClassParams wire = onWire(leaf, share);
        if (!check(shaper->setClass(HtbShaper::RootMinor, wire), "setting a class"))
            continue;
        state->leaves.insert(leaf.minor, leaf);
        // The queue follows the whole cap, not the device's share of it: a
        // share moves every few seconds, and a new queue loses what waited.
        const quint64 whole = onWire(planned, share).ceil;
        const quint64 frame = quint64(link.mtu) + FrameHeaders;
        const quint32 cut = quint32(qBound<quint64>(frame, whole * CutAfterMs / 1000, 1u << 30));
        const quint32 oldCut = state->leafCuts.value(leaf.minor);
        if (oldCut == cut)
            continue;
        // A queued packet longer than the new cut would never leave a cutter
        // changed in place: a lower cut gets a fresh queue (a lower cap
        // loses what waited at the old one).
        if (oldCut > cut && check(shaper->removeLeafQueue(leaf.minor), "renewing a class's queue"))
            state->leafCuts.remove(leaf.minor);
        const quint32 room =
            quint32(qMin<quint64>(qMax(QueueFrames * frame, whole * QueueMs / 1000), 1u << 30));
        if (check(shaper->setLeafQueue(leaf.minor, cut, room), "setting a class's queue"))
            state->leafCuts.insert(leaf.minor, cut);
    }
    if (!prune)
        return;
    QSet<quint16> wanted;
    for (const HtbShaper::ClassParams& leaf : tree.leaves)
        wanted.insert(leaf.minor);
    for (auto it = state->leaves.begin(); it != state->leaves.end();) {
        if (wanted.contains(it.key())) {
            ++it;
            continue;
        }
        check(shaper->removeClass(it.key()), "removing a class");
        state->leafCuts.remove(it.key());
        state->shares.remove(it.key());
        state->counts.erase(it.key());
        it = state->leaves.erase(it);
    }
}

void TrafficEnforcer::dropDownload(Space* space, Device* device)
{
    m_programs.detachDownload(space->cookie, device->link.ifindex);
    if (device->ifbIndex)
        IfbDevice::remove(space->netlink.get(), device->ifbIndex);
    device->ifbIndex = 0;
    device->download = TreeState();
}

void TrafficEnforcer::clearDevice(Space* space, Device* device)
{
    dropDownload(space, device);
    if (device->upload.installed)
        HtbShaper(space->netlink.get(), device->link.ifindex, UploadMajor).uninstall();
    device->upload = TreeState();
}
