#include "netlinksocket.h"

#include "netlinkmessage.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

NetlinkSocket::NetlinkSocket(int protocol)
{
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, protocol);
    if (m_fd < 0)
        return;
    const int on = 1;
    // Errors come back without the whole request attached to them.
    ::setsockopt(m_fd, SOL_NETLINK, NETLINK_CAP_ACK, &on, sizeof on);
    ::setsockopt(m_fd, SOL_NETLINK, NETLINK_EXT_ACK, &on, sizeof on);
    timeval timeout{5, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

NetlinkSocket::~NetlinkSocket()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int NetlinkSocket::send(NetlinkMessage& message, unsigned flags)
{
    if (m_fd < 0)
        return -EBADF;
    nlmsghdr* h = message.header();
    h->nlmsg_flags |= flags;
    h->nlmsg_seq = ++m_sequence;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    const ssize_t sent = ::sendto(m_fd, message.data(), message.size(), 0,
                                  reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
    if (sent < 0)
        return -errno;
    return 0;
}

int NetlinkSocket::request(NetlinkMessage& message)
{
    const int sent = send(message, NLM_F_REQUEST | NLM_F_ACK);
    return sent ? sent : receive(m_sequence, {});
}

int NetlinkSocket::query(NetlinkMessage& message,
                         const std::function<void(const nlmsghdr*)>& onMessage)
{
    const int sent = send(message, NLM_F_REQUEST | NLM_F_ACK);
    return sent ? sent : receive(m_sequence, onMessage);
}

int NetlinkSocket::dump(NetlinkMessage& message,
                        const std::function<void(const nlmsghdr*)>& onMessage)
{
    const int sent = send(message, NLM_F_REQUEST | NLM_F_DUMP);
    return sent ? sent : receive(m_sequence, onMessage);
}

int NetlinkSocket::receive(unsigned seq, const std::function<void(const nlmsghdr*)>& onMessage)
{
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t length = ::recv(m_fd, buffer.data(), buffer.size(), 0);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            return -errno;
        }
        int left = int(length);
        for (auto* h = reinterpret_cast<const nlmsghdr*>(buffer.data()); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_seq != seq)
                continue; // a late answer to an earlier request that gave up
            if (h->nlmsg_type == NLMSG_DONE)
                return 0;
            if (h->nlmsg_type == NLMSG_ERROR) {
                const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
                return error->error;
            }
            if (onMessage)
                onMessage(h);
        }
    }
}
