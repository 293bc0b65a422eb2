#pragma once

#include <cstdint>

class NetlinkSocket;

// One device's HTB tree, driven through rtnetlink: the qdisc, the root class
// that carries the device's maximum and one leaf per application. Packets
// find their leaf by skb->priority (the leaf's class id), so the tree needs no
// filter; anything else passes the shaper. Every call changes the kernel in
// place and gives 0 or a negative errno.
class HtbShaper
{
public:
    struct ClassSpec
    {
        std::uint16_t minor = 0;
        std::uint64_t rate = 0; // bytes per second the class is guaranteed
        std::uint64_t ceil = 0; // bytes per second it may borrow up to
        std::uint32_t prio = 0; // 0 is served first when borrowing
        std::uint32_t quantum = 0;
    };

    // The root class of every tree.
    static constexpr std::uint16_t RootMinor = 1;

    // major: the qdisc's handle major (the classes are major:minor).
    // overhead: bytes added to each packet's length as the shaper counts it,
    // negative to count what the applications send rather than the wire.
    HtbShaper(NetlinkSocket* netlink, int ifindex, std::uint16_t major);

    int ifindex() const { return m_ifindex; }
    std::uint32_t handle() const { return std::uint32_t(m_major) << 16; }
    std::uint32_t classId(std::uint16_t minor) const { return handle() | minor; }

    // Makes our HTB the device's root qdisc, replacing what was there.
    int install(int overhead);
    // Creates the class, or changes it in place when it exists.
    int setClass(std::uint16_t parentMinor, const ClassSpec& leafClass);
    int removeClass(std::uint16_t minor);
    // Takes the qdisc (and so every class) off the device.
    int uninstall();

    // The burst a class of this rate gets: a millisecond of traffic, at
    // least two full-size packets.
    static std::uint32_t burstFor(std::uint64_t rate);

private:
    NetlinkSocket* m_netlink;
    int m_ifindex;
    std::uint16_t m_major;
};
