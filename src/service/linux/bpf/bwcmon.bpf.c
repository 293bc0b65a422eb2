// SPDX-License-Identifier: GPL-2.0
/* bwcd's traffic monitor: tags every socket with its application when it is
 * made, and counts the bytes of every packet by that tag. */
#include "vmlinux.h"

#include <bpf/bpf_core_read.h>
#include <bpf/bpf_endian.h>
#include <bpf/bpf_helpers.h>

#include "bwcshared.h"

char LICENSE[] SEC("license") = "GPL";

#define BWC_AF_INET 2
#define BWC_AF_INET6 10
#define BWC_IPPROTO_TCP 6
#define BWC_IPPROTO_UDP 17
#define BWC_ETH_P_IP 0x0800
#define BWC_ETH_P_IPV6 0x86DD

struct {
    __uint(type, BPF_MAP_TYPE_SK_STORAGE);
    __uint(map_flags, BPF_F_NO_PREALLOC | BPF_F_CLONE);
    __type(key, int);
    __type(value, struct bwc_sock_tag);
} sock_tags SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 65536);
    __type(key, __u32);
    __type(value, struct bwc_tgid_app);
} tgid_apps SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_HASH);
    __uint(max_entries, 16384);
    __type(key, struct bwc_traffic_key);
    __type(value, struct bwc_traffic);
} traffic SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_RINGBUF);
    __uint(max_entries, 256 * 1024);
} events SEC(".maps");

static __always_inline void notify_child(__u32 kind, __u32 tgid, __u32 parent)
{
    struct bwc_event *event = bpf_ringbuf_reserve(&events, sizeof(*event), 0);
    if (!event)
        return; /* user space catches up in its once-a-second sweep */
    event->kind = kind;
    event->tgid = tgid;
    event->parent = parent;
    bpf_get_current_comm(event->comm, sizeof(event->comm));
    bpf_ringbuf_submit(event, 0);
}

static __always_inline void notify(__u32 kind, __u32 tgid)
{
    notify_child(kind, tgid, 0);
}

SEC("cgroup/sock_create")
int bwc_sock_create(struct bpf_sock *sk)
{
    if (sk->family != BWC_AF_INET && sk->family != BWC_AF_INET6)
        return 1;
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    struct bwc_tgid_app *known = bpf_map_lookup_elem(&tgid_apps, &tgid);
    if (!known) {
        /* Remember the process as pending so that its next sockets do not
         * ask again; user space fills in the application. */
        struct bwc_tgid_app pending = {BWC_APP_UNKNOWN};
        if (bpf_map_update_elem(&tgid_apps, &tgid, &pending, BPF_NOEXIST) == 0)
            notify(BWC_EVENT_SOCKET, tgid);
    }
    struct bwc_sock_tag *tag =
        bpf_sk_storage_get(&sock_tags, sk, 0, BPF_SK_STORAGE_GET_F_CREATE);
    if (tag) {
        tag->app = known ? known->app : BWC_APP_UNKNOWN;
        tag->tgid = tgid;
    }
    return 1;
}

/* Header bytes of one segment of a TCP or UDP super-packet, 0 if unknown. */
static __always_inline __u32 segment_header(struct __sk_buff *skb)
{
    __u8 byte = 0;
    __u32 network = 0;
    __u8 proto = 0;
    if (skb->protocol == bpf_htons(BWC_ETH_P_IP)) {
        if (bpf_skb_load_bytes(skb, 0, &byte, 1))
            return 0;
        network = (byte & 0x0F) * 4;
        if (bpf_skb_load_bytes(skb, 9, &proto, 1))
            return 0;
    } else if (skb->protocol == bpf_htons(BWC_ETH_P_IPV6)) {
        network = 40;
        if (bpf_skb_load_bytes(skb, 6, &proto, 1))
            return 0;
    } else {
        return 0;
    }
    if (proto == BWC_IPPROTO_UDP)
        return network + 8;
    if (proto != BWC_IPPROTO_TCP || network > 60)
        return 0;
    if (bpf_skb_load_bytes(skb, network + 12, &byte, 1))
        return 0;
    return network + (byte >> 4) * 4;
}

/* The loopback device has this index in every network namespace. */
#define BWC_LOOPBACK_IFINDEX 1

/* The cookie of the network namespace whose kernel traffic is the machine's
 * own (bwcd's); set before loading. Packets of no program in another
 * namespace (its kernel's echo replies, resets, errors) are that namespace's
 * business: whatever of them leaves the machine passes bwcd's namespace as
 * forwarded traffic, and what goes to a program here is that program's. */
const volatile __u64 home_netns = 0;

/* home_only: the kernel lets this program read the namespace of a packet. */
static __always_inline void count(struct __sk_buff *skb, int egress, int home_only)
{
    struct bwc_traffic_key key = {0, 0};
    struct bpf_sock *sk = skb->sk;
    struct bpf_sock *full = sk ? bpf_sk_fullsock(sk) : 0;
    /* A connection being set up answers for its listener. */
    if (sk && !full)
        full = bpf_get_listener_sock(sk);
    sk = full;
    if (sk) {
        struct bwc_sock_tag *tag = bpf_sk_storage_get(&sock_tags, sk, 0, 0);
        if (tag) {
            if (tag->app == BWC_APP_UNKNOWN) {
                /* Made before user space knew the process: take the
                 * application once it is known, for good. */
                __u32 tgid = tag->tgid;
                struct bwc_tgid_app *known = bpf_map_lookup_elem(&tgid_apps, &tgid);
                if (known && known->app != BWC_APP_UNKNOWN)
                    tag->app = known->app;
            }
            key.app = tag->app;
            key.tgid = tag->tgid;
        }
    }

    if (home_only && home_netns && !key.app && !key.tgid &&
        bpf_get_netns_cookie(skb) != home_netns)
        return;

    __u64 bytes = skb->len;
    __u32 segments = skb->gso_segs;
    if (segments > 1)
        bytes += (__u64)(segments - 1) * segment_header(skb);
    else
        segments = 1;

    struct bwc_traffic *sum = bpf_map_lookup_elem(&traffic, &key);
    if (!sum) {
        struct bwc_traffic zero = {};
        bpf_map_update_elem(&traffic, &key, &zero, BPF_NOEXIST);
        sum = bpf_map_lookup_elem(&traffic, &key);
        if (!sum)
            return;
    }
    /* Traffic that never leaves the machine uses no network. */
    if (skb->ifindex == BWC_LOOPBACK_IFINDEX) {
        if (egress)
            sum->local_tx_bytes += bytes;
        else
            sum->local_rx_bytes += bytes;
    } else if (egress) {
        sum->tx_bytes += bytes;
        sum->tx_packets += segments;
    } else {
        sum->rx_bytes += bytes;
        sum->rx_packets += segments;
    }
}

SEC("cgroup_skb/egress")
int bwc_egress(struct __sk_buff *skb)
{
    count(skb, 1, 1);
    return 1;
}

SEC("cgroup_skb/ingress")
int bwc_ingress(struct __sk_buff *skb)
{
    count(skb, 0, 1);
    return 1;
}

/* For kernels that do not tell socket-buffer programs a packet's namespace:
 * every namespace's kernel traffic counts. */
SEC("cgroup_skb/egress")
int bwc_egress_any(struct __sk_buff *skb)
{
    count(skb, 1, 0);
    return 1;
}

SEC("cgroup_skb/ingress")
int bwc_ingress_any(struct __sk_buff *skb)
{
    count(skb, 0, 0);
    return 1;
}

SEC("raw_tp/sched_process_exec")
int bwc_exec(void *ctx)
{
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    /* The process is another program now: its next sockets must not take
     * the old application, and the sockets it inherited need a new tag. */
    if (bpf_map_delete_elem(&tgid_apps, &tgid) == 0) {
        notify(BWC_EVENT_EXEC, tgid);
        return 0;
    }
    struct task_struct *task = (struct task_struct *)bpf_get_current_task();
    __u32 parent = BPF_CORE_READ(task, real_parent, tgid);
    if (bpf_map_lookup_elem(&tgid_apps, &parent))
        notify(BWC_EVENT_EXEC, tgid);
    return 0;
}

SEC("raw_tp/sched_process_fork")
int bwc_fork(struct bpf_raw_tracepoint_args *ctx)
{
    struct task_struct *child = (struct task_struct *)ctx->args[1];
    __u32 pid = BPF_CORE_READ(child, pid);
    __u32 tgid = BPF_CORE_READ(child, tgid);
    if (pid != tgid)
        return 0; /* a thread, not a process */
    __u32 parent = bpf_get_current_pid_tgid() >> 32;
    /* The child shares the parent's sockets and may outlive it. */
    if (bpf_map_lookup_elem(&tgid_apps, &parent))
        notify_child(BWC_EVENT_FORK, tgid, parent);
    return 0;
}

SEC("raw_tp/sched_process_exit")
int bwc_exit(void *ctx)
{
    __u64 id = bpf_get_current_pid_tgid();
    __u32 tgid = id >> 32;
    if ((__u32)id != tgid)
        return 0; /* a thread, not the process */
    if (bpf_map_delete_elem(&tgid_apps, &tgid) == 0)
        notify(BWC_EVENT_EXIT, tgid);
    return 0;
}
