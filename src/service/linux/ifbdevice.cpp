#include "ifbdevice.h"

#include "netlinkmessage.h"
#include "netlinksocket.h"

#include <net/if.h>

#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cerrno>

namespace {

// Queue room for the download leaves: the IFB's own default of 32 packets
// drops bursts long before the shaper's rate is reached.
constexpr unsigned TxQueueLength = 1000;

int setUp(NetlinkSocket* netlink, int ifindex)
{
    NetlinkMessage message(RTM_NEWLINK, 0);
    ifinfomsg* info = message.appendHeader<ifinfomsg>();
    info->ifi_family = AF_UNSPEC;
    info->ifi_index = ifindex;
    info->ifi_flags = IFF_UP;
    info->ifi_change = IFF_UP;
    return netlink->request(message);
}

} // namespace

QString IfbDevice::nameFor(int deviceIndex)
{
    return QLatin1String(NamePrefix) + QString::number(deviceIndex);
}

int IfbDevice::create(NetlinkSocket* netlink, int deviceIndex)
{
    const QByteArray name = nameFor(deviceIndex).toLatin1();
    if (const int old = int(if_nametoindex(name.constData())))
        remove(netlink, old);
    NetlinkMessage message(RTM_NEWLINK, NLM_F_CREATE | NLM_F_EXCL);
    message.appendHeader<ifinfomsg>()->ifi_family = AF_UNSPEC;
    message.putString(IFLA_IFNAME, name.constData());
    message.putU32(IFLA_TXQLEN, TxQueueLength);
    const std::size_t linkInfo = message.beginNested(IFLA_LINKINFO);
    message.putString(IFLA_INFO_KIND, "ifb");
    message.endNested(linkInfo);
    if (const int error = netlink->request(message))
        return error;
    const int ifindex = int(if_nametoindex(name.constData()));
    if (ifindex <= 0)
        return -ENODEV;
    if (const int error = setUp(netlink, ifindex)) {
        remove(netlink, ifindex);
        return error;
    }
    return ifindex;
}

int IfbDevice::remove(NetlinkSocket* netlink, int ifindex)
{
    NetlinkMessage message(RTM_DELLINK, 0);
    ifinfomsg* info = message.appendHeader<ifinfomsg>();
    info->ifi_family = AF_UNSPEC;
    info->ifi_index = ifindex;
    return netlink->request(message);
}

QList<int> IfbDevice::leftovers(NetlinkSocket* netlink)
{
    QList<int> found;
    NetlinkMessage message(RTM_GETLINK, 0);
    message.appendHeader<ifinfomsg>()->ifi_family = AF_UNSPEC;
    const QByteArray prefix(NamePrefix);
    netlink->dump(message, [&](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWLINK)
            return;
        const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(h));
        int left = int(IFLA_PAYLOAD(h));
        for (const rtattr* a = IFLA_RTA(info); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
            if (a->rta_type == IFLA_IFNAME &&
                QByteArray(static_cast<const char*>(RTA_DATA(a))).startsWith(prefix))
                found.append(info->ifi_index);
        }
    });
    return found;
}
