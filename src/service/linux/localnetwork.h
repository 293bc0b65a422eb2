#pragma once

#include "bpf/enforcement.h"

#include <QList>

class NetlinkSocket;

// The prefixes of the local network: private and link-local ranges,
// multicast, and the on-link prefix of every address of the namespace's
// devices (loopback aside), as keys of the enforcement programs' LAN map.
class LocalNetwork
{
public:
    static QList<bwc_lan_key> prefixes(NetlinkSocket* netlink);
    // A key for an IPv4 prefix (address in host order) or an IPv6 one.
    static bwc_lan_key ipv4(quint32 address, int length);
    static bwc_lan_key ipv6(const quint8* address, int length);
};
