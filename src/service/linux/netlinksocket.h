#pragma once

#include <functional>

class NetlinkMessage;
struct nlmsghdr;

// A netlink socket of one protocol in the network namespace of the thread
// that opens it. Requests are synchronous: each waits for the kernel's
// acknowledgement, so a caller knows at once whether a change took effect.
class NetlinkSocket
{
public:
    explicit NetlinkSocket(int protocol);
    ~NetlinkSocket();
    NetlinkSocket(const NetlinkSocket&) = delete;
    NetlinkSocket& operator=(const NetlinkSocket&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    // Sends the request with an acknowledgement asked for; gives 0 or a
    // negative errno from the kernel.
    int request(NetlinkMessage& message);
    // The same for a request the kernel answers with messages before its
    // acknowledgement; each goes to onMessage.
    int query(NetlinkMessage& message, const std::function<void(const nlmsghdr*)>& onMessage);
    // Sends a dump request and hands every answer to onMessage until the
    // dump is done; gives 0 or a negative errno.
    int dump(NetlinkMessage& message, const std::function<void(const nlmsghdr*)>& onMessage);

private:
    // Reads answers to sequence number seq until the acknowledgement or the
    // end of a dump; gives 0 or a negative errno.
    int receive(unsigned seq, const std::function<void(const nlmsghdr*)>& onMessage);
    int send(NetlinkMessage& message, unsigned flags);

    int m_fd = -1;
    unsigned m_sequence = 0;
};
