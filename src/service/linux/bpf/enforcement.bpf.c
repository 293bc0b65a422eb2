// SPDX-License-Identifier: GPL-2.0
/* Enforcement of the service's rules on real traffic: per-application HTB
 * classes chosen through skb->priority (upload in the cgroup egress hook,
 * download in a tc ingress hook that redirects to an IFB device), in every
 * network namespace whose devices carry a tree, and
 * blocking of new connections, datagrams and packets. The application of a
 * socket comes from the observer's socket-tag map, which this object shares. */

#include <linux/bpf.h>
#include <linux/if_ether.h>
#include <linux/in.h>
#include <linux/ip.h>
#include <linux/ipv6.h>
#include <linux/pkt_cls.h>
#include <linux/tcp.h>
#include <linux/udp.h>

#include <bpf/bpf_endian.h>
#include <bpf/bpf_helpers.h>

#include "enforcement.h"

char LICENSE[] SEC("license") = "GPL";

/* Reused from the observer when it runs, so both see the same tags. */
struct
{
    __uint(type, BPF_MAP_TYPE_SK_STORAGE);
    __uint(map_flags, BPF_F_NO_PREALLOC | BPF_F_CLONE);
    __type(key, int);
    __type(value, struct bwc_sock_tag);
} sock_tags SEC(".maps");

/* Reused from the observer too: the application of each process. */
struct
{
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 65536);
    __type(key, __u32);
    __type(value, struct bwc_tgid_app);
} tgid_apps SEC(".maps");

struct
{
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 65536);
    __type(key, bwc_app_key);
    __type(value, struct bwc_app_rule);
} app_rules SEC(".maps");

struct
{
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct bwc_enforce_config);
} enforce_config SEC(".maps");

/* Device (its namespace and index) -> the IFB device that shapes its
 * download. Containers' namespaces number their devices from 1 as well. */
struct
{
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 4096);
    __type(key, struct bwc_device_key);
    __type(value, struct bwc_download_device);
} ifb_of SEC(".maps");

/* The pacing limit this service last gave each TCP socket. */
struct
{
    __uint(type, BPF_MAP_TYPE_SK_STORAGE);
    __uint(map_flags, BPF_F_NO_PREALLOC);
    __type(key, int);
    __type(value, __u32);
} paced SEC(".maps");

/* The local network: prefixes whose traffic passes the shaper when the
 * configuration says so. IPv4 addresses are IPv4-mapped IPv6 ones. */
struct
{
    __uint(type, BPF_MAP_TYPE_LPM_TRIE);
    __uint(max_entries, 1024);
    __uint(map_flags, BPF_F_NO_PREALLOC);
    __type(key, struct bwc_lan_key);
    __type(value, __u8);
} lan_prefixes SEC(".maps");

static __always_inline const struct bwc_enforce_config* config(void)
{
    __u32 zero = 0;
    const struct bwc_enforce_config* c = bpf_map_lookup_elem(&enforce_config, &zero);
    return c && c->enabled ? c : 0;
}

static const struct bwc_app_rule pass_rule = {};

/* The kernel's view of a packet, for the one thing __sk_buff does not
 * name: the network namespace of the device a packet arrived on (the
 * cookie helper of tc programs answers for the packet's socket, and a
 * received packet has none yet). Field offsets come from the running
 * kernel's BTF. */
struct net___bwc
{
    __u64 net_cookie;
} __attribute__((preserve_access_index));

struct possible_net_t___bwc
{
    struct net___bwc* net;
} __attribute__((preserve_access_index));

struct net_device___bwc
{
    struct possible_net_t___bwc nd_net;
} __attribute__((preserve_access_index));

struct sk_buff___bwc
{
    struct net_device___bwc* dev;
} __attribute__((preserve_access_index));

extern void* bpf_cast_to_kern_ctx(void* ctx) __ksym;

static __always_inline __u64 device_netns(struct __sk_buff* skb)
{
    struct sk_buff___bwc* kskb = bpf_cast_to_kern_ctx(skb);
    struct net_device___bwc* dev = kskb->dev;
    if (!dev)
        return 0;
    struct net___bwc* net = dev->nd_net.net;
    return net ? net->net_cookie : 0;
}

/* The rule of the application that owns the socket; the fallback when the
 * application is not known yet or has no rule. A socket made before its
 * process was named takes the process's application once it is known, and
 * until then the rules that stand in for it (an interpreter's). A socket
 * without a tag is outside the watched cgroup: it meets the fallback only
 * when the whole machine is watched, and otherwise passes. */
static __always_inline const struct bwc_app_rule* rule_of(const struct bwc_enforce_config* c,
                                                          void* sk)
{
    const struct bwc_sock_tag* tag = sk ? bpf_sk_storage_get(&sock_tags, sk, 0, 0) : 0;
    if (!tag)
        return (c->flags & BWC_CONFIG_SHAPE_UNTAGGED) ? &c->fallback : &pass_rule;
    bwc_app_key key = tag->app;
    if (key == BWC_APP_UNKNOWN) {
        __u32 tgid = tag->tgid;
        const struct bwc_tgid_app* process = bpf_map_lookup_elem(&tgid_apps, &tgid);
        if (process)
            key = process->app != BWC_APP_UNKNOWN ? process->app : process->interim;
        if (key == BWC_APP_UNKNOWN)
            return &c->fallback;
    }
    const struct bwc_app_rule* rule = bpf_map_lookup_elem(&app_rules, &key);
    return rule ? rule : &c->fallback;
}

/* The rule for the process that uses the socket now, in its own system call
 * (or, for anything but TCP, its own packet): a socket it kept across an exec
 * or got from its parent is under the rules of the program it runs, before
 * the traffic monitor has tagged the socket anew. */
static __always_inline const struct bwc_app_rule* rule_of_user(const struct bwc_enforce_config* c,
                                                               void* sk, int per_packet)
{
    const struct bwc_sock_tag* tag = sk ? bpf_sk_storage_get(&sock_tags, sk, 0, 0) : 0;
    if (!tag)
        return rule_of(c, sk);
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    /* Per packet, only another process's use is looked for: a look-up per
     * packet costs more than the rest of the decision. */
    if (per_packet && tag->tgid == tgid)
        return rule_of(c, sk);
    const struct bwc_tgid_app* user = bpf_map_lookup_elem(&tgid_apps, &tgid);
    if (!user || (tag->tgid == tgid && tag->app == user->app))
        return rule_of(c, sk);
    bwc_app_key key = user->app != BWC_APP_UNKNOWN ? user->app : user->interim;
    if (key == BWC_APP_UNKNOWN)
        return &c->fallback;
    const struct bwc_app_rule* rule = bpf_map_lookup_elem(&app_rules, &key);
    return rule ? rule : &c->fallback;
}

static __always_inline int is_loopback4(__u32 addr_be)
{
    return (bpf_ntohl(addr_be) >> 24) == 127;
}

static __always_inline int is_loopback6(__u32 a0, __u32 a1, __u32 a2, __u32 a3)
{
    return a0 == 0 && a1 == 0 && a2 == 0 && a3 == bpf_htonl(1);
}

/* A program's own loopback traffic is not network access. */
static __always_inline int skb_is_loopback(const struct __sk_buff* skb)
{
    if (skb->family == 2 /* AF_INET */)
        return is_loopback4(skb->remote_ip4);
    return is_loopback6(skb->remote_ip6[0], skb->remote_ip6[1], skb->remote_ip6[2],
                        skb->remote_ip6[3]);
}

static __always_inline int in_lan4(__u32 addr_be)
{
    struct bwc_lan_key key = {.prefixlen = 128};
    key.addr[2] = bpf_htonl(0xffff);
    key.addr[3] = addr_be;
    return bpf_map_lookup_elem(&lan_prefixes, &key) != 0;
}

static __always_inline int in_lan6(const __u32* addr)
{
    struct bwc_lan_key key = {.prefixlen = 128};
    __builtin_memcpy(key.addr, addr, 16);
    return bpf_map_lookup_elem(&lan_prefixes, &key) != 0;
}

/* Whether a sent packet goes to the local network, read from its IP header
 * (an unconnected socket knows no peer). */
static __always_inline int sent_to_lan(struct __sk_buff* skb)
{
    __u8 version = 0;
    if (bpf_skb_load_bytes(skb, 0, &version, 1))
        return 0;
    if ((version >> 4) == 4) {
        __u32 daddr = 0;
        return !bpf_skb_load_bytes(skb, 16, &daddr, 4) && in_lan4(daddr);
    }
    __u32 daddr6[4] = {};
    return (version >> 4) == 6 && !bpf_skb_load_bytes(skb, 24, daddr6, 16) && in_lan6(daddr6);
}

SEC("cgroup_skb/egress")
int enforce_egress(struct __sk_buff* skb)
{
    const struct bwc_enforce_config* c = config();
    if (!c || !skb->sk)
        return 1;
    struct bpf_sock* sk = bpf_sk_fullsock(skb->sk);
    if (!sk)
        return 1;
    /* Only TCP sends from timers and acknowledgements. */
    const struct bwc_app_rule* rule =
        sk->protocol == IPPROTO_TCP ? rule_of(c, sk) : rule_of_user(c, sk, 1);
    if (rule->flags & BWC_RULE_BLOCKED)
        return skb_is_loopback(skb);
    /* The qdisc's own handle means "past the shaper" to HTB; a priority the
     * program chose itself is left alone unless it looks like one of ours. */
    if ((c->flags & BWC_CONFIG_LAN_EXEMPT) && sent_to_lan(skb))
        skb->priority = c->upload_handle;
    else if (rule->upload_minor || (skb->priority >> 16) == (c->upload_handle >> 16))
        skb->priority = c->upload_handle | rule->upload_minor;
    return 1;
}

SEC("cgroup_skb/ingress")
int enforce_ingress(struct __sk_buff* skb)
{
    const struct bwc_enforce_config* c = config();
    if (!c || !skb->sk)
        return 1;
    struct bpf_sock* sk = bpf_sk_fullsock(skb->sk);
    if (!sk)
        return 1;
    const struct bwc_app_rule* rule = rule_of(c, sk);
    if (rule->flags & BWC_RULE_BLOCKED)
        return skb_is_loopback(skb);
    return 1;
}

static __always_inline int refuse_addr(struct bpf_sock_addr* ctx, int loopback)
{
    const struct bwc_enforce_config* c = config();
    if (!c || loopback || !ctx->sk)
        return 1;
    const struct bwc_app_rule* rule = rule_of_user(c, ctx->sk, 0);
    return (rule->flags & BWC_RULE_BLOCKED) ? 0 : 1;
}

SEC("cgroup/connect4")
int enforce_connect4(struct bpf_sock_addr* ctx)
{
    return refuse_addr(ctx, is_loopback4(ctx->user_ip4));
}

SEC("cgroup/connect6")
int enforce_connect6(struct bpf_sock_addr* ctx)
{
    return refuse_addr(
        ctx, is_loopback6(ctx->user_ip6[0], ctx->user_ip6[1], ctx->user_ip6[2], ctx->user_ip6[3]));
}

SEC("cgroup/sendmsg4")
int enforce_sendmsg4(struct bpf_sock_addr* ctx)
{
    return refuse_addr(ctx, is_loopback4(ctx->user_ip4));
}

SEC("cgroup/sendmsg6")
int enforce_sendmsg6(struct bpf_sock_addr* ctx)
{
    return refuse_addr(
        ctx, is_loopback6(ctx->user_ip6[0], ctx->user_ip6[1], ctx->user_ip6[2], ctx->user_ip6[3]));
}

/* Download: find the local socket a packet is for, put the packet in its
 * application's class and hand it to the device's IFB, whose HTB tree
 * shapes it; the IFB gives it back to this device's receive path. Packets of
 * no local socket (forwarded, for containers) and of sockets no rule puts in
 * a class go to the tree's default class while it holds a maximum. */
SEC("tc")
int enforce_download(struct __sk_buff* skb)
{
    const struct bwc_enforce_config* c = config();
    if (!c)
        return TC_ACT_OK;
    struct bwc_device_key key = {.netns = device_netns(skb), .ifindex = skb->ifindex};
    const struct bwc_download_device* device = bpf_map_lookup_elem(&ifb_of, &key);
    if (!device)
        return TC_ACT_OK;

    /* The link header, if the device has one, is in front of the packet;
     * skb->protocol names what follows it on Ethernet and on IP tunnels and
     * tun devices alike. */
    void* data = (void*)(long)skb->data;
    void* end = (void*)(long)skb->data_end;
    void* l3 = data + (device->link_header & 0xff);
    if (l3 > end)
        return TC_ACT_OK;

    struct bpf_sock_tuple tuple = {};
    __u32 tuple_size = 0;
    __u8 proto = 0;
    void* l4 = 0;
    if (skb->protocol == bpf_htons(ETH_P_IP)) {
        struct iphdr* ip = l3;
        if ((void*)(ip + 1) > end || ip->version != 4)
            return TC_ACT_OK; /* a link header of another length: not ours to judge */
        proto = ip->protocol;
        /* Fragments after the first carry no ports. */
        if (ip->frag_off & bpf_htons(0x1fff))
            proto = 0;
        l4 = (void*)ip + ip->ihl * 4;
        tuple.ipv4.saddr = ip->saddr;
        tuple.ipv4.daddr = ip->daddr;
        tuple_size = sizeof(tuple.ipv4);
    } else if (skb->protocol == bpf_htons(ETH_P_IPV6)) {
        struct ipv6hdr* ip6 = l3;
        if ((void*)(ip6 + 1) > end || ip6->version != 6)
            return TC_ACT_OK;
        proto = ip6->nexthdr;
        l4 = ip6 + 1;
        __builtin_memcpy(tuple.ipv6.saddr, &ip6->saddr, 16);
        __builtin_memcpy(tuple.ipv6.daddr, &ip6->daddr, 16);
        tuple_size = sizeof(tuple.ipv6);
    } else {
        return TC_ACT_OK; /* ARP and the like are never held back */
    }

    struct bpf_sock* sk = 0;
    if (proto == IPPROTO_TCP || proto == IPPROTO_UDP) {
        struct udphdr* ports = l4; /* TCP and UDP begin with the same two ports */
        if ((void*)(ports + 1) <= end) {
            if (tuple_size == sizeof(tuple.ipv4)) {
                tuple.ipv4.sport = ports->source;
                tuple.ipv4.dport = ports->dest;
            } else {
                tuple.ipv6.sport = ports->source;
                tuple.ipv6.dport = ports->dest;
            }
            if (proto == IPPROTO_TCP)
                sk = bpf_sk_lookup_tcp(skb, &tuple, tuple_size, BPF_F_CURRENT_NETNS, 0);
            else
                sk = bpf_sk_lookup_udp(skb, &tuple, tuple_size, BPF_F_CURRENT_NETNS, 0);
        }
    }
    struct bpf_sock* full = sk ? bpf_sk_fullsock(sk) : 0;
    struct bwc_app_rule rule = full ? *rule_of(c, full) : pass_rule;
    if (sk)
        bpf_sk_release(sk);
    if (rule.flags & BWC_RULE_BLOCKED)
        return TC_ACT_SHOT;
    if (c->flags & BWC_CONFIG_LAN_EXEMPT) {
        int lan = tuple_size == sizeof(tuple.ipv4) ? in_lan4(tuple.ipv4.saddr)
                                                   : in_lan6(tuple.ipv6.saddr);
        if (lan)
            return TC_ACT_OK;
    }
    if (rule.download_minor)
        skb->priority = c->download_handle | rule.download_minor;
    else if (c->flags & BWC_CONFIG_DOWNLOAD_ALL)
        skb->priority = 0; /* names no class: the tree's default one */
    else
        return TC_ACT_OK;
    if (!device->link_header) {
        /* The IFB takes only packets with a link header: give one to a
         * packet of a device without (it passes the IFB's tree with it, and
         * the IFB takes it off again when it hands the packet back). */
        struct ethhdr eth = {.h_proto = skb->protocol};
        if (bpf_skb_change_head(skb, sizeof eth, 0) ||
            bpf_skb_store_bytes(skb, 0, &eth, sizeof eth, 0))
            return TC_ACT_OK;
    }
    return bpf_redirect(device->ifb, 0);
}

#define SOL_SOCKET 1
#define SO_MAX_PACING_RATE 47

/* A capped application's TCP sockets pace at a little above the cap, so that
 * they hand the shaper small segmentation-offload packets rather than bursts
 * of up to 64 KiB: at low caps those would come out as uneven seconds. The
 * shaper still decides the rate. Kept current on every RTT sample, so that a
 * changed cap reaches open connections. */
SEC("sockops")
int enforce_pacing(struct bpf_sock_ops* ops)
{
    switch (ops->op) {
    case BPF_SOCK_OPS_ACTIVE_ESTABLISHED_CB:
    case BPF_SOCK_OPS_PASSIVE_ESTABLISHED_CB:
        bpf_sock_ops_cb_flags_set(ops, ops->bpf_sock_ops_cb_flags | BPF_SOCK_OPS_RTT_CB_FLAG);
        break;
    case BPF_SOCK_OPS_RTT_CB:
        break;
    default:
        return 1;
    }
    struct bpf_sock* sk = ops->sk;
    if (!sk)
        return 1;
    const struct bwc_enforce_config* c = config();
    __u32 pace = c ? rule_of(c, sk)->upload_pace : 0;
    if (pace && (c->flags & BWC_CONFIG_LAN_EXEMPT)) {
        __u32 remote6[4] = {ops->remote_ip6[0], ops->remote_ip6[1], ops->remote_ip6[2],
                            ops->remote_ip6[3]};
        if (ops->family == 2 /* AF_INET */ ? in_lan4(ops->remote_ip4) : in_lan6(remote6))
            pace = 0; /* the local network is not capped */
    }
    __u32* last = bpf_sk_storage_get(&paced, sk, 0, pace ? BPF_SK_STORAGE_GET_F_CREATE : 0);
    if (!last || *last == pace)
        return 1;
    /* ~0 lifts the limit again. */
    __u32 value = pace ? pace : ~0u;
    bpf_setsockopt(ops, SOL_SOCKET, SO_MAX_PACING_RATE, &value, sizeof value);
    *last = pace;
    return 1;
}
