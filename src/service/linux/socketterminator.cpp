#include "socketterminator.h"

#include "bpf/enforcement.h"
#include "netlinkmessage.h"
#include "netlinksocket.h"

#include <QList>

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace {

// The tag a socket carries in the map, from its dump message.
bool tagOf(const nlmsghdr* h, bwc_sock_tag* tag)
{
    const auto* msg = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
    const auto* end = reinterpret_cast<const char*>(h) + h->nlmsg_len;
    auto* a = reinterpret_cast<const nlattr*>(reinterpret_cast<const char*>(msg) +
                                              NLMSG_ALIGN(sizeof *msg));
    auto next = [](const nlattr* x) {
        return reinterpret_cast<const nlattr*>(reinterpret_cast<const char*>(x) +
                                               NLA_ALIGN(x->nla_len));
    };
    auto inside = [](const nlattr* x) {
        return reinterpret_cast<const nlattr*>(reinterpret_cast<const char*>(x) + NLA_HDRLEN);
    };
    auto fits = [](const nlattr* x, const char* limit) {
        return reinterpret_cast<const char*>(x) + NLA_HDRLEN <= limit && x->nla_len >= NLA_HDRLEN &&
               reinterpret_cast<const char*>(x) + x->nla_len <= limit;
    };
    for (; fits(a, end); a = next(a)) {
        if ((a->nla_type & NLA_TYPE_MASK) != INET_DIAG_SK_BPF_STORAGES)
            continue;
        const char* storagesEnd = reinterpret_cast<const char*>(a) + a->nla_len;
        for (const nlattr* s = inside(a); fits(s, storagesEnd); s = next(s)) {
            const char* storageEnd = reinterpret_cast<const char*>(s) + s->nla_len;
            for (const nlattr* f = inside(s); fits(f, storageEnd); f = next(f)) {
                if ((f->nla_type & NLA_TYPE_MASK) == SK_DIAG_BPF_STORAGE_MAP_VALUE &&
                    f->nla_len >= NLA_HDRLEN + sizeof *tag) {
                    std::memcpy(tag, inside(f), sizeof *tag);
                    return true;
                }
            }
        }
    }
    return false;
}

} // namespace

int SocketTerminator::terminate(int tagMapFd, const QSet<quint32>& apps)
{
    if (apps.isEmpty())
        return 0;
    NetlinkSocket diag(NETLINK_SOCK_DIAG);
    if (!diag.isOpen())
        return -errno;
    int ended = 0;
    for (const int family : {AF_INET, AF_INET6}) {
        for (const int protocol : {IPPROTO_TCP, IPPROTO_UDP}) {
            NetlinkMessage dump(SOCK_DIAG_BY_FAMILY, 0);
            auto* request = dump.appendHeader<inet_diag_req_v2>();
            request->sdiag_family = quint8(family);
            request->sdiag_protocol = quint8(protocol);
            // Everything but listening sockets: those only refuse, through the programs.
            request->idiag_states = ~(1u << 10 /* TCP_LISTEN */);
            const std::size_t storages = dump.beginNested(INET_DIAG_REQ_SK_BPF_STORAGES);
            dump.putU32(SK_DIAG_BPF_STORAGE_REQ_MAP_FD, quint32(tagMapFd));
            dump.endNested(storages);
            QList<inet_diag_sockid> victims;
            const int result = diag.dump(dump, [&](const nlmsghdr* h) {
                bwc_sock_tag tag{};
                if (h->nlmsg_type == SOCK_DIAG_BY_FAMILY && tagOf(h, &tag) && apps.contains(tag.app))
                    victims.append(static_cast<const inet_diag_msg*>(NLMSG_DATA(h))->id);
            });
            if (result < 0)
                return result;
            for (const inet_diag_sockid& id : std::as_const(victims)) {
                NetlinkMessage destroy(SOCK_DESTROY, 0);
                auto* target = destroy.appendHeader<inet_diag_req_v2>();
                target->sdiag_family = quint8(family);
                target->sdiag_protocol = quint8(protocol);
                target->idiag_states = ~0u;
                target->id = id;
                if (diag.request(destroy) == 0)
                    ++ended;
            }
        }
    }
    return ended;
}
