#pragma once

#include <QList>
#include <QString>

class NetlinkSocket;

// The intermediate functional block devices that carry the download trees:
// traffic redirected to one leaves through its qdisc and comes back into the
// receive path of the device it came from. Ours are named by a fixed prefix
// and their device's index, so leftovers of an earlier run can be found.
class IfbDevice
{
public:
    static constexpr const char* NamePrefix = "bwcifb";

    static QString nameFor(int deviceIndex);
    // Creates and brings up the IFB of a device (replacing a leftover of the
    // same name); gives its index, or a negative errno.
    static int create(NetlinkSocket* netlink, int deviceIndex);
    static int remove(NetlinkSocket* netlink, int ifindex);
    // Indexes of every device named with our prefix.
    static QList<int> leftovers(NetlinkSocket* netlink);
};
