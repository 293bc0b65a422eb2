#include "peercredentials.h"

#include "netlinkmessage.h"
#include "netlinksocket.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

bool PeerCredentials::loopbackOwner(quint16 clientPort, quint16 serverPort, uid_t* uid)
{
    NetlinkSocket diag(NETLINK_SOCK_DIAG);
    NetlinkMessage message(SOCK_DIAG_BY_FAMILY, 0);
    auto* request = message.appendHeader<inet_diag_req_v2>();
    request->sdiag_family = AF_INET;
    request->sdiag_protocol = IPPROTO_TCP;
    request->idiag_states = 1u << TCP_ESTABLISHED;
    // The client's socket: its own port is the source.
    request->id.idiag_sport = htons(clientPort);
    request->id.idiag_dport = htons(serverPort);
    request->id.idiag_src[0] = htonl(INADDR_LOOPBACK);
    request->id.idiag_dst[0] = htonl(INADDR_LOOPBACK);
    request->id.idiag_cookie[0] = request->id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    bool found = false;
    const int result = diag.query(message, [&](const nlmsghdr* h) {
        if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
            h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
            return;
        const auto* msg = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
        if (msg->idiag_state == TCP_ESTABLISHED && msg->idiag_inode != 0 &&
            ntohs(msg->id.idiag_sport) == clientPort && ntohs(msg->id.idiag_dport) == serverPort) {
            *uid = msg->idiag_uid;
            found = true;
        }
    });
    return result == 0 && found;
}
