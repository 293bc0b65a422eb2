#include "htbshaper.h"

#include "netlinkmessage.h"
#include "netlinksocket.h"

#include <linux/gen_stats.h>
#include <linux/pkt_sched.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint64_t NanosecondsPerTick = 64; // the kernel's scheduler clock unit

tcmsg* tcHeader(NetlinkMessage& message, int ifindex, std::uint32_t handle, std::uint32_t parent)
{
    tcmsg* tc = message.appendHeader<tcmsg>();
    tc->tcm_family = AF_UNSPEC;
    tc->tcm_ifindex = ifindex;
    tc->tcm_handle = handle;
    tc->tcm_parent = parent;
    return tc;
}

tc_ratespec rateSpec(std::uint64_t rate)
{
    tc_ratespec ratespec{};
    // Rates beyond 32 bits travel in an attribute of their own.
    ratespec.rate =
        rate >= 0xFFFFFFFFull ? 0xFFFFFFFFu : std::uint32_t(std::max<std::uint64_t>(rate, 1));
    ratespec.linklayer = TC_LINKLAYER_ETHERNET;
    return ratespec;
}

std::uint32_t ticksFor(std::uint32_t bytes, std::uint64_t rate)
{
    const std::uint64_t ns =
        std::uint64_t(bytes) * 1000000000ull / std::max<std::uint64_t>(rate, 1);
    return std::uint32_t(std::min<std::uint64_t>(ns / NanosecondsPerTick, 0xFFFFFFFFull));
}

// The cutter's own rate: far above anything a device carries, so that it
// never holds a packet back and HTB alone decides when packets leave.
constexpr std::uint64_t CutterRate = 1ull << 40;

} // namespace

HtbShaper::HtbShaper(NetlinkSocket* netlink, int ifindex, std::uint16_t major)
    : m_netlink(netlink), m_ifindex(ifindex), m_major(major)
{}

std::uint32_t HtbShaper::burstFor(std::uint64_t rate)
{
    return std::uint32_t(std::clamp<std::uint64_t>(rate / 100, 2 * 1514, 64u << 20));
}

int HtbShaper::install(std::uint16_t defaultMinor)
{
    NetlinkMessage message(RTM_NEWQDISC, NLM_F_CREATE | NLM_F_REPLACE);
    tcHeader(message, m_ifindex, handle(), TC_H_ROOT);
    message.putString(TCA_KIND, "htb");
    const std::size_t options = message.beginNested(TCA_OPTIONS);
    tc_htb_glob glob{};
    glob.version = TC_HTB_PROTOVER;
    glob.rate2quantum = 10;
    glob.defcls = defaultMinor;
    message.put(TCA_HTB_INIT, &glob, sizeof glob);
    message.endNested(options);
    return m_netlink->request(message);
}

int HtbShaper::setClass(std::uint16_t parentMinor, const ClassParams& leafClass)
{
    NetlinkMessage message(RTM_NEWTCLASS, NLM_F_CREATE);
    tcHeader(message, m_ifindex, classId(leafClass.minor),
             parentMinor ? classId(parentMinor) : handle());
    message.putString(TCA_KIND, "htb");
    const std::size_t options = message.beginNested(TCA_OPTIONS);
    const std::uint64_t ceil = std::max(leafClass.ceil, leafClass.rate);
    tc_htb_opt opt{};
    opt.rate = rateSpec(leafClass.rate);
    opt.ceil = rateSpec(ceil);
    opt.buffer = ticksFor(burstFor(leafClass.rate), leafClass.rate);
    opt.cbuffer = ticksFor(burstFor(ceil), ceil);
    opt.quantum = leafClass.quantum;
    opt.prio = leafClass.prio;
    message.put(TCA_HTB_PARMS, &opt, sizeof opt);
    if (leafClass.rate >= 0xFFFFFFFFull)
        message.put(TCA_HTB_RATE64, &leafClass.rate, sizeof leafClass.rate);
    if (ceil >= 0xFFFFFFFFull)
        message.put(TCA_HTB_CEIL64, &ceil, sizeof ceil);
    message.endNested(options);
    return m_netlink->request(message);
}

int HtbShaper::setLeafQueue(std::uint16_t minor, std::uint32_t maxPacket, std::uint32_t limit)
{
    // TBF cuts offload packets above its burst into segments before they
    // wait in its FIFO; with a rate it never reaches it does nothing else.
    NetlinkMessage message(RTM_NEWQDISC, NLM_F_CREATE | NLM_F_REPLACE);
    tcHeader(message, m_ifindex, std::uint32_t(minor) << 16, classId(minor));
    message.putString(TCA_KIND, "tbf");
    const std::size_t options = message.beginNested(TCA_OPTIONS);
    tc_tbf_qopt qopt{};
    qopt.rate = rateSpec(CutterRate);
    qopt.limit = limit;
    message.put(TCA_TBF_PARMS, &qopt, sizeof qopt);
    message.put(TCA_TBF_RATE64, &CutterRate, sizeof CutterRate);
    message.putU32(TCA_TBF_BURST, maxPacket);
    message.endNested(options);
    return m_netlink->request(message);
}

int HtbShaper::removeLeafQueue(std::uint16_t minor)
{
    NetlinkMessage message(RTM_DELQDISC, 0);
    tcHeader(message, m_ifindex, std::uint32_t(minor) << 16, classId(minor));
    return m_netlink->request(message);
}

int HtbShaper::removeClass(std::uint16_t minor)
{
    NetlinkMessage message(RTM_DELTCLASS, 0);
    tcHeader(message, m_ifindex, classId(minor), 0);
    return m_netlink->request(message);
}

int HtbShaper::uninstall()
{
    NetlinkMessage message(RTM_DELQDISC, 0);
    tcHeader(message, m_ifindex, handle(), TC_H_ROOT);
    return m_netlink->request(message);
}

int HtbShaper::classCounts(std::map<std::uint16_t, ClassCount>* counts) const
{
    NetlinkMessage message(RTM_GETTCLASS, 0);
    tcHeader(message, m_ifindex, 0, 0);
    return m_netlink->dump(message, [this, counts](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWTCLASS || h->nlmsg_len < NLMSG_LENGTH(sizeof(tcmsg)))
            return;
        const auto* tc = static_cast<const tcmsg*>(NLMSG_DATA(h));
        if ((tc->tcm_handle >> 16) != m_major)
            return;
        ClassCount count;
        int left = int(h->nlmsg_len - NLMSG_LENGTH(sizeof(tcmsg)));
        for (const rtattr* a = TCA_RTA(tc); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
            if (a->rta_type != TCA_STATS2)
                continue;
            int inner = int(RTA_PAYLOAD(a));
            for (auto* s = static_cast<const rtattr*>(RTA_DATA(a)); RTA_OK(s, inner);
                 s = RTA_NEXT(s, inner)) {
                if (s->rta_type == TCA_STATS_BASIC && RTA_PAYLOAD(s) >= sizeof(std::uint64_t)) {
                    std::memcpy(&count.bytes, RTA_DATA(s), sizeof count.bytes);
                } else if (s->rta_type == TCA_STATS_QUEUE &&
                           RTA_PAYLOAD(s) >= sizeof(gnet_stats_queue)) {
                    gnet_stats_queue queue{};
                    std::memcpy(&queue, RTA_DATA(s), sizeof queue);
                    count.overlimits = queue.overlimits;
                    count.backlog = queue.backlog;
                }
            }
        }
        (*counts)[std::uint16_t(tc->tcm_handle & 0xFFFF)] = count;
    });
}
