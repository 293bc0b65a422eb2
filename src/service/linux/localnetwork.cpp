#include "localnetwork.h"

#include "netlinkmessage.h"
#include "netlinksocket.h"

#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

// Keys hold no bits beyond their prefix, so that equal prefixes compare equal.
bwc_lan_key LocalNetwork::ipv4(quint32 address, int length)
{
    length = qBound(0, length, 32);
    bwc_lan_key key{};
    key.prefixlen = quint32(96 + length);
    key.addr[2] = htonl(0xffff);
    key.addr[3] = htonl(length ? address & (~0u << (32 - length)) : 0);
    return key;
}

bwc_lan_key LocalNetwork::ipv6(const quint8* address, int length)
{
    length = qBound(0, length, 128);
    bwc_lan_key key{};
    key.prefixlen = quint32(length);
    quint8 bytes[16] = {};
    for (int i = 0; i < 16; ++i) {
        const int bits = qBound(0, length - 8 * i, 8);
        bytes[i] = quint8(address[i] & (0xff00 >> bits));
    }
    std::memcpy(key.addr, bytes, 16);
    return key;
}

QList<bwc_lan_key> LocalNetwork::prefixes(NetlinkSocket* netlink)
{
    QList<bwc_lan_key> keys = {
        ipv4(0x0A000000, 8),  ipv4(0xAC100000, 12), ipv4(0xC0A80000, 16), // private
        ipv4(0xA9FE0000, 16),                                             // link-local
        ipv4(0xE0000000, 4),  ipv4(0xFFFFFFFF, 32),                       // multicast, broadcast
    };
    const quint8 linkLocal[16] = {0xfe, 0x80};
    const quint8 uniqueLocal[16] = {0xfc};
    const quint8 multicast[16] = {0xff};
    keys << ipv6(linkLocal, 10) << ipv6(uniqueLocal, 7) << ipv6(multicast, 8);

    NetlinkMessage message(RTM_GETADDR, 0);
    message.appendHeader<ifaddrmsg>()->ifa_family = AF_UNSPEC;
    netlink->dump(message, [&keys](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWADDR)
            return;
        const auto* info = static_cast<const ifaddrmsg*>(NLMSG_DATA(h));
        if (info->ifa_scope == RT_SCOPE_HOST || info->ifa_prefixlen == 0)
            return;
        int left = int(IFA_PAYLOAD(h));
        for (const rtattr* a = IFA_RTA(info); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
            // IFA_ADDRESS is the peer on point-to-point links, whose prefix is the link.
            if (a->rta_type != IFA_ADDRESS)
                continue;
            if (info->ifa_family == AF_INET && RTA_PAYLOAD(a) >= 4) {
                quint32 address = 0;
                std::memcpy(&address, RTA_DATA(a), 4);
                keys << ipv4(ntohl(address), info->ifa_prefixlen);
            } else if (info->ifa_family == AF_INET6 && RTA_PAYLOAD(a) >= 16) {
                keys << ipv6(static_cast<const quint8*>(RTA_DATA(a)), info->ifa_prefixlen);
            }
        }
    });
    return keys;
}
