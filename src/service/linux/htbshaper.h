#pragma once

#include <cstdint>
#include <map>

class NetlinkSocket;

// One device's HTB tree, driven through rtnetlink: the qdisc, the root class
// that carries the device's maximum and one leaf per application. Packets
// find their leaf by skb->priority (the leaf's class id), so the tree needs no
// filter; anything else passes the shaper. Every call changes the kernel in
// place and gives 0 or a negative errno.
class HtbShaper
{
public:
    struct ClassParams
    {
        std::uint16_t minor = 0;
        std::uint64_t rate = 0; // bytes per second the class is guaranteed
        std::uint64_t ceil = 0; // bytes per second it may borrow up to
        std::uint32_t prio = 0; // 0 is served first when borrowing
        std::uint32_t quantum = 0;
    };

    // The root class of every tree.
    static constexpr std::uint16_t RootMinor = 1;

    // major: the qdisc's handle major (the classes are major:minor). The
    // tree counts the bytes each packet takes on the wire.
    HtbShaper(NetlinkSocket* netlink, int ifindex, std::uint16_t major);

    int ifindex() const { return m_ifindex; }
    std::uint32_t handle() const { return std::uint32_t(m_major) << 16; }
    std::uint32_t classId(std::uint16_t minor) const { return handle() | minor; }

    // Makes our HTB the device's root qdisc, replacing what was there.
    // Packets whose priority names no class go to defaultMinor, or pass the
    // shaper while that class does not exist.
    int install(std::uint16_t defaultMinor);
    // Creates the class, or changes it in place when it exists.
    int setClass(std::uint16_t parentMinor, const ClassParams& leafClass);
    int removeClass(std::uint16_t minor);
    // Gives a leaf a queue that cuts segmentation-offload packets longer than
    // maxPacket bytes into wire-sized ones before the class sees them. HTB
    // charges a packet whole when it leaves: an offload packet of 64 KiB lets
    // a slow class overshoot its rate by that much in one moment and then
    // stay silent, seconds that a program sees as bursts. maxPacket must hold
    // the device's largest frame; limit is the queue's room in bytes.
    int setLeafQueue(std::uint16_t minor, std::uint32_t maxPacket, std::uint32_t limit);
    // Gives the leaf back a plain FIFO, dropping what its queue held.
    int removeLeafQueue(std::uint16_t minor);
    // Takes the qdisc (and so every class) off the device.
    int uninstall();

    // What a class has done since it was made.
    struct ClassCount
    {
        std::uint64_t bytes = 0;      // sent, as the tree counts them
        std::uint32_t overlimits = 0; // times it had to wait for its rate
        std::uint32_t backlog = 0;    // bytes waiting in its queue now
    };
    // The counts of every class of the tree, by minor; 0 or a negative errno.
    int classCounts(std::map<std::uint16_t, ClassCount>* counts) const;

    // The burst a class of this rate gets: 10 ms of traffic, at least two
    // full-size packets. A class whose timer fires late (a busy or virtual
    // machine) loses what its bucket cannot hold: at a millisecond's worth a
    // 100 Mbit/s class lost 5-15 % on a machine whose processors were taken
    // away a fifth of the time; 10 ms is 1 % of a second.
    static std::uint32_t burstFor(std::uint64_t rate);

    // The handle major of a leaf's queue is the leaf's minor; below this
    // limit it differs from every tree's own major.
    static constexpr std::uint16_t MinorLimit = 0x4000;

private:
    NetlinkSocket* m_netlink;
    int m_ifindex;
    std::uint16_t m_major;
};
