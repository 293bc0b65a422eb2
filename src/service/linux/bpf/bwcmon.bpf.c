// SPDX-License-Identifier: GPL-2.0
/* bwcd's traffic monitor: tags every socket with its application when it is
 * made, and counts the bytes of every packet by that tag. */
#include "vmlinux.h"

#include <bpf/bpf_core_read.h>
#include <bpf/bpf_endian.h>
#include <bpf/bpf_helpers.h>
#include <bpf/bpf_tracing.h>

#include "bwcshared.h"

char LICENSE[] SEC("license") = "GPL";

#define BWC_AF_INET 2
#define BWC_AF_INET6 10
#define BWC_AF_PACKET 17
#define BWC_MSG_PEEK 2
#define BWC_IPPROTO_TCP 6
#define BWC_IPPROTO_UDP 17
#define BWC_ETH_P_IP 0x0800
#define BWC_ETH_P_IPV6 0x86DD
#define BWC_ETH_P_ALL 0x0003
#define BWC_SOL_PACKET 263
#define BWC_PACKET_RX_RING 5
#define BWC_TPACKET_V3 2
#define BWC_TP_STATUS_USER 1

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

/* How far the frames of a packet socket's receive ring are counted. */
struct ring_cursor {
    __u64 next_seq; /* TPACKET_V3: the sequence number of the next block */
    __u32 next;     /* the next block (V3) or frame (V1, V2) to count */
    __u32 pad;
};
struct {
    __uint(type, BPF_MAP_TYPE_SK_STORAGE);
    __uint(map_flags, BPF_F_NO_PREALLOC);
    __type(key, int);
    __type(value, struct ring_cursor);
} ring_cursors SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_HASH);
    __uint(max_entries, 16384);
    __type(key, struct bwc_traffic_key);
    __type(value, struct bwc_traffic);
} traffic SEC(".maps");

/* Index 0: the cgroup whose processes are watched (the one the socket and
 * packet programs are attached to), for programs that see every process. */
struct {
    __uint(type, BPF_MAP_TYPE_CGROUP_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, __u32);
} scope SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 65536);
    __type(key, struct bwc_exe_key);
    __type(value, struct bwc_exe_app);
} exe_apps SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_RINGBUF);
    __uint(max_entries, 1024 * 1024);
} events SEC(".maps");

/* Room to build a path backwards, component by component. */
#define WALK_SPAN 2048
#define WALK_MASK (WALK_SPAN - 1)
#define WALK_DEPTH 40
struct walk_buffer {
    char bytes[2 * WALK_SPAN];
};
struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct walk_buffer);
} walk_scratch SEC(".maps");

static __always_inline void notify_child(__u32 kind, __u32 tgid, __u32 parent, __u32 app)
{
    struct bwc_event *event = bpf_ringbuf_reserve(&events, sizeof(*event), 0);
    if (!event)
        return; /* user space catches up in its once-a-second sweep */
    event->kind = kind;
    event->tgid = tgid;
    event->parent = parent;
    event->app = app;
    bpf_get_current_comm(event->comm, sizeof(event->comm));
    bpf_ringbuf_submit(event, 0);
}

static __always_inline void notify(__u32 kind, __u32 tgid, __u32 app)
{
    notify_child(kind, tgid, 0, app);
}

struct walk_state {
    struct dentry *dentry;
    struct mount *mnt;
    __u32 at; /* where the path built so far begins in the buffer */
    __u32 truncated;
    __u32 done;
};

/* One step up: a name, or a mount crossed. Gives 1 to stop. */
static long walk_step(__u64 index, void *context)
{
    struct walk_state *state = context;
    __u32 zero = 0;
    struct walk_buffer *buffer = bpf_map_lookup_elem(&walk_scratch, &zero);
    if (!buffer)
        return 1;
    struct dentry *dentry = state->dentry;
    struct mount *mnt = state->mnt;
    struct dentry *parent = BPF_CORE_READ(dentry, d_parent);
    struct dentry *root = BPF_CORE_READ(mnt, mnt.mnt_root);
    if (dentry == root || dentry == parent) {
        struct mount *up = BPF_CORE_READ(mnt, mnt_parent);
        if (up == mnt || !up) {
            state->done = 1;
            return 1;
        }
        state->dentry = BPF_CORE_READ(mnt, mnt_mountpoint);
        state->mnt = up;
        return 0;
    }
    struct qstr name = BPF_CORE_READ(dentry, d_name);
    __u32 length = name.len;
    __u32 at = state->at;
    if (length > 255 || length + 1 > at) {
        state->truncated = 1;
        return 1;
    }
    at -= length;
    bpf_probe_read_kernel(&buffer->bytes[at & WALK_MASK], length & 255, name.name);
    at -= 1;
    buffer->bytes[at & WALK_MASK] = '/';
    state->at = at;
    state->dentry = parent;
    return 0;
}

/* Writes the path of (dentry, vfsmount) into out, as d_path would without a
 * chroot: up through the mounts to the root of the mount tree. Gives its
 * length, and sets *truncated when it did not fit. */
static __noinline __u32 walk_path(struct dentry *dentry, struct vfsmount *vfsmnt, char *out,
                                  __u32 *truncated)
{
    __u32 zero = 0;
    if (!dentry || !vfsmnt || !out || !truncated)
        return 0;
    struct walk_state state = {
        .dentry = dentry,
        .mnt = container_of(vfsmnt, struct mount, mnt),
        .at = WALK_SPAN,
    };
    bpf_loop(WALK_DEPTH, walk_step, &state, 0);
    if (state.truncated || !state.done)
        *truncated = 1;
    struct walk_buffer *buffer = bpf_map_lookup_elem(&walk_scratch, &zero);
    if (!buffer)
        return 0;
    __u32 at = state.at;
    if (at > WALK_SPAN)
        return 0;
    __u32 length = WALK_SPAN - at;
    if (length == 0) {
        out[0] = '/';
        return 1;
    }
    if (length >= BWC_NAME_PATH_MAX) {
        *truncated = 1;
        return 0;
    }
    bpf_probe_read_kernel(out, length & (BWC_NAME_PATH_MAX - 1), &buffer->bytes[at & WALK_MASK]);
    return length;
}

/* The executable a process runs, as the kernel knows it. */
static __always_inline struct file *exe_file(struct task_struct *task)
{
    return BPF_CORE_READ(task, mm, exe_file);
}

static __always_inline void exe_key(struct file *exe, struct bwc_exe_key *key)
{
    key->dev = BPF_CORE_READ(exe, f_inode, i_sb, s_dev);
    key->pad = 0;
    key->ino = BPF_CORE_READ(exe, f_inode, i_ino);
}

/* The application of an executable file, or null. A file with several names
 * (hard links) is a program per name: user space names its processes. */
static __always_inline struct bwc_exe_app *exe_app(struct file *exe, struct bwc_exe_key *key)
{
    exe_key(exe, key);
    struct bwc_exe_app *app = bpf_map_lookup_elem(&exe_apps, key);
    if (app && !(app->flags & BWC_EXE_INTERPRETER) && BPF_CORE_READ(exe, f_inode, i_nlink) > 1)
        return 0;
    return app;
}

/* Tells user space what names the process: its executable's path and, at
 * exec, the directory it started in and its arguments (for interpreters). */
static __always_inline void notify_name(__u32 tgid, struct task_struct *task, struct file *exe,
                                        const struct bwc_exe_key *key, __u32 flags)
{
    struct bwc_name_event *event = bpf_ringbuf_reserve(&events, sizeof(*event), 0);
    if (!event)
        return;
    event->head.kind = BWC_EVENT_NAME;
    event->head.tgid = tgid;
    event->head.parent = 0;
    event->head.app = BWC_APP_UNKNOWN;
    bpf_get_current_comm(event->head.comm, sizeof(event->head.comm));
    event->dev = key->dev;
    event->ino = key->ino;
    event->uid = BPF_CORE_READ(task, cred, euid.val);
    event->gid = BPF_CORE_READ(task, cred, egid.val);
    __u32 truncated = 0;
    event->exe_len = walk_path(BPF_CORE_READ(exe, f_path.dentry), BPF_CORE_READ(exe, f_path.mnt),
                               event->exe, &truncated);
    event->cwd_len = 0;
    event->args_len = 0;
    if (flags & BWC_NAME_AT_EXEC) {
        event->cwd_len = walk_path(BPF_CORE_READ(task, fs, pwd.dentry),
                                   BPF_CORE_READ(task, fs, pwd.mnt), event->cwd, &truncated);
        unsigned long start = BPF_CORE_READ(task, mm, arg_start);
        unsigned long end = BPF_CORE_READ(task, mm, arg_end);
        __u64 length = end > start ? end - start : 0;
        if (length > BWC_NAME_ARGS_MAX) {
            length = BWC_NAME_ARGS_MAX;
            truncated = 1;
        }
        if (length && bpf_probe_read_user(event->args, length & (BWC_NAME_ARGS_MAX - 1) ?: 1,
                                          (void *)start) == 0)
            event->args_len = length == BWC_NAME_ARGS_MAX ? BWC_NAME_ARGS_MAX - 1 : (__u32)length;
    }
    event->flags = flags | (truncated ? BWC_NAME_TRUNCATED : 0);
    event->mntns = BPF_CORE_READ(task, nsproxy, mnt_ns, ns.inum);
    bpf_ringbuf_submit(event, 0);
}

/* The application of the current process, which is making or first using a
 * socket; user space hears of the process's first socket. */
static __always_inline __u32 socket_owner(__u32 tgid)
{
    struct bwc_tgid_app *known = bpf_map_lookup_elem(&tgid_apps, &tgid);
    if (!known) {
        /* A process whose exec was not seen (it started before bwcd):
         * its executable names it, or user space does. */
        struct task_struct *task = (struct task_struct *)bpf_get_current_task();
        struct file *exe = exe_file(task);
        struct bwc_exe_key key = {};
        struct bwc_tgid_app entry = {.origin = tgid};
        if (exe) {
            struct bwc_exe_app *app = exe_app(exe, &key);
            if (app && (app->flags & BWC_EXE_INTERPRETER))
                entry.interim = app->app;
            else if (app)
                entry.app = app->app;
        }
        if (bpf_map_update_elem(&tgid_apps, &tgid, &entry, BPF_NOEXIST) == 0 && exe &&
            entry.app == BWC_APP_UNKNOWN)
            notify_name(tgid, task, exe, &key, 0);
        known = bpf_map_lookup_elem(&tgid_apps, &tgid);
    }
    __u32 app = known ? known->app : BWC_APP_UNKNOWN;
    if (known && !(known->sockets & BWC_SOCKETS_ANNOUNCED)) {
        known->sockets |= BWC_SOCKETS_ANNOUNCED;
        notify_child(BWC_EVENT_SOCKET, tgid, known->origin, app);
    }
    return app;
}

/* A socket is the program's that uses it: one a process keeps across its
 * exec, or hands to a child that runs another program, goes over to the
 * program that sends on it or reads from it now. Called where the current
 * process is the one sending, before what it sends is queued (for TCP in its
 * send call, for anything else with each packet), and in every read.
 * exec: the process's exec count, or 0 where it cannot be read (then only
 * another process's use is seen, not the same process's new program). */
static __always_inline void follow_user(struct bwc_sock_tag *tag, __u32 exec)
{
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    if (tag->tgid == tgid && (!exec || tag->exec == exec))
        return;
    tag->exec = exec;
    struct bwc_tgid_app *user = bpf_map_lookup_elem(&tgid_apps, &tgid);
    if (!user || (tag->tgid == tgid && tag->app == user->app))
        return;
    /* An application not known yet is looked up through the process
     * whenever a packet asks, as for a socket made before it was named. */
    tag->app = user->app;
    tag->tgid = tgid;
}

/* The same for a socket the kernel hands over typed, in a system call. */
static __always_inline void follow_user_of(struct sock *sk)
{
    __u16 family = sk->__sk_common.skc_family;
    if (family != BWC_AF_INET && family != BWC_AF_INET6)
        return;
    struct bwc_sock_tag *tag = bpf_sk_storage_get(&sock_tags, sk, 0, 0);
    if (!tag)
        return;
    /* Never 0: a count of 0 would mean "not known". */
    follow_user(tag, (__u32)bpf_get_current_task_btf()->self_exec_id | 0x80000000u);
}

SEC("cgroup/sock_create")
int bwc_sock_create(struct bpf_sock *sk)
{
    if (sk->family != BWC_AF_INET && sk->family != BWC_AF_INET6)
        return 1;
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    __u32 app = socket_owner(tgid);
    struct bwc_sock_tag *tag =
        bpf_sk_storage_get(&sock_tags, sk, 0, BPF_SK_STORAGE_GET_F_CREATE);
    if (tag) {
        tag->app = app;
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
            /* Only TCP sends from timers and acknowledgements: anything
             * else leaves in the sending process's own system call. */
            if (egress && sk->protocol != BWC_IPPROTO_TCP)
                follow_user(tag, 0);
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

/* Packet sockets (AF_PACKET) get no cgroup_skb or sock_create program: what
 * a program writes to one or reads from one is counted here, at the socket,
 * as whole frames (link-layer header included for SOCK_RAW). Only packet
 * sockets: what INET sockets move is counted by the programs above. */

/* The tag of a packet socket a watched process uses; the first process to
 * use it tags it, as sock_create does for INET sockets. */
static __always_inline struct bwc_sock_tag *packet_tag(struct sock *sk)
{
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    struct bwc_sock_tag *tag = bpf_sk_storage_get(&sock_tags, sk, 0, 0);
    if (tag)
        return tag;
    tag = bpf_sk_storage_get(&sock_tags, sk, 0, BPF_SK_STORAGE_GET_F_CREATE);
    if (tag) {
        tag->app = socket_owner(tgid);
        tag->tgid = tgid;
    }
    return tag;
}

static __always_inline void add_frames(struct bwc_sock_tag *tag, __u64 bytes, __u64 frames,
                                       int egress)
{
    if (tag->app == BWC_APP_UNKNOWN) {
        __u32 owner = tag->tgid;
        struct bwc_tgid_app *known = bpf_map_lookup_elem(&tgid_apps, &owner);
        if (known && known->app != BWC_APP_UNKNOWN)
            tag->app = known->app;
    }
    struct bwc_traffic_key key = {tag->app, tag->tgid};
    struct bwc_traffic *sum = bpf_map_lookup_elem(&traffic, &key);
    if (!sum) {
        struct bwc_traffic zero = {};
        bpf_map_update_elem(&traffic, &key, &zero, BPF_NOEXIST);
        sum = bpf_map_lookup_elem(&traffic, &key);
        if (!sum)
            return;
    }
    if (egress) {
        sum->tx_bytes += bytes;
        sum->tx_packets += frames;
    } else {
        sum->rx_bytes += bytes;
        sum->rx_packets += frames;
    }
}

/* Whether what a packet socket receives is its program's download. A socket
 * bound to every protocol (a capture tool) gets a copy of each frame the
 * device passes, the machine's own outgoing ones included, whose owners are
 * counted already; one bound to IPv4 or IPv6 gets copies of what the IP stack
 * takes and counts for its sockets (or answers itself); one bound to the
 * loopback device sees local traffic. Counting those copies would count one
 * frame twice. What is left is the frames of a protocol only the program
 * speaks (ARP for an arping, a protocol of its own), which nobody else counts. */
static __always_inline int receives_own_frames(const struct sock *sk)
{
    const struct packet_sock *po = (const struct packet_sock *)sk;
    const __u16 protocol = bpf_ntohs(BPF_CORE_READ(po, num));
    if (protocol == BWC_ETH_P_ALL || protocol == BWC_ETH_P_IP || protocol == BWC_ETH_P_IPV6)
        return 0;
    return BPF_CORE_READ(po, ifindex) != BWC_LOOPBACK_IFINDEX;
}

static __always_inline int watched_packet_socket(struct sock *sk)
{
    return sk && sk->__sk_common.skc_family == BWC_AF_PACKET &&
           bpf_current_task_under_cgroup(&scope, 0) == 1;
}

SEC("tp_btf/sock_send_length")
int BPF_PROG(bwc_packet_send, struct sock *sk, int ret, int flags)
{
    if (ret <= 0 || !watched_packet_socket(sk))
        return 0;
    struct bwc_sock_tag *tag = packet_tag(sk);
    if (tag)
        add_frames(tag, ret, 1, 1);
    return 0;
}

/* Every read that took something. An IP socket goes over to the program
 * reading it, as it does to one sending on it: a socket a new program only
 * reads from would otherwise stay its old program's until user space hears
 * of the exec, and a short download would be over by then. A packet
 * socket's frame is counted as it is read (a peek leaves it queued). */
SEC("tp_btf/sock_recv_length")
int BPF_PROG(bwc_sock_recv, struct sock *sk, int ret, int flags)
{
    if (ret <= 0 || !sk)
        return 0;
    if (sk->__sk_common.skc_family != BWC_AF_PACKET) {
        follow_user_of(sk);
        return 0;
    }
    if ((flags & BWC_MSG_PEEK) || !watched_packet_socket(sk))
        return 0;
    struct bwc_sock_tag *tag = packet_tag(sk);
    if (tag && receives_own_frames(sk))
        add_frames(tag, ret, 1, 0);
    return 0;
}

/* Before a TCP send queues its bytes (whatever sends them later, a timer or
 * an acknowledgement, is not the process). */
SEC("tp_btf/tcp_sendmsg_locked")
int BPF_PROG(bwc_tcp_send, struct sock *sk, struct msghdr *msg, struct sk_buff *skb, int size_goal)
{
    /* Once per system call: it runs again for every buffer a long write
     * fills, and by then the write has taken some of what it was given. */
    if (msg->msg_iter.iov_offset == 0)
        follow_user_of(sk);
    return 0;
}

/* A receive ring (PACKET_RX_RING, as capture libraries set up by default) is
 * read without a system call: its frames are counted as the kernel hands
 * them over. The process that sets the ring up tags the socket; a new ring
 * is counted from its first block or frame, and user space hears of it (the
 * program that counts rings runs at every socket's data-ready, so it is
 * attached only once a ring is there to count). */
SEC("cgroup/setsockopt")
int bwc_packet_ring_setup(struct bpf_sockopt *ctx)
{
    struct bpf_sock *sk = ctx->sk;
    if (!sk || sk->family != BWC_AF_PACKET || ctx->level != BWC_SOL_PACKET)
        return 1;
    struct bwc_sock_tag *tag = bpf_sk_storage_get(&sock_tags, sk, 0, 0);
    if (!tag) {
        __u32 tgid = bpf_get_current_pid_tgid() >> 32;
        tag = bpf_sk_storage_get(&sock_tags, sk, 0, BPF_SK_STORAGE_GET_F_CREATE);
        if (tag) {
            tag->app = socket_owner(tgid);
            tag->tgid = tgid;
        }
    }
    if (ctx->optname != BWC_PACKET_RX_RING)
        return 1;
    struct ring_cursor *cursor =
        bpf_sk_storage_get(&ring_cursors, sk, 0, BPF_SK_STORAGE_GET_F_CREATE);
    if (cursor) {
        /* The kernel numbers a new ring's blocks from 1. */
        cursor->next = 0;
        cursor->next_seq = 1;
    }
    if (tag)
        notify(BWC_EVENT_RING, bpf_get_current_pid_tgid() >> 32, tag->app);
    return 1;
}

/* A look at a receive ring: where it stands, and what was found. */
struct ring_walk {
    const struct pgv *blocks;
    __u32 count;  /* blocks (V3) or frames (V1, V2) */
    __u32 active; /* V3: the block being filled; V1, V2: the frame filled next */
    __u32 per_block;
    __u32 frame_size;
    __u32 length_at; /* V1, V2: where tp_len is in a frame's header */
    const unsigned long *owners;
    __u64 next_seq;
    __u32 next;
    __u32 pad;
    const char *frame; /* V3: the frame being read in a block */
    __u64 bytes;
    __u64 frames;
};

static long block_frame(__u64 index, void *context)
{
    struct ring_walk *walk = context;
    __u32 head[5]; /* tpacket3_hdr up to tp_len */
    if (bpf_probe_read_kernel(head, sizeof(head), walk->frame))
        return 1;
    walk->bytes += head[4];
    walk->frame += head[0];
    return head[0] ? 0 : 1;
}

/* One block (TPACKET_V3) the kernel closed: handed over whole. Gives 1 when
 * there is none to count. */
static long ring_block(__u64 step, void *context)
{
    struct ring_walk *walk = context;
    const __u32 index = walk->next < walk->count ? walk->next : 0;
    const char *block = 0;
    bpf_probe_read_kernel(&block, sizeof(block), &walk->blocks[index & 0xFFFF].buffer);
    struct tpacket_hdr_v1 header;
    if (!block || bpf_probe_read_kernel(&header, sizeof(header),
                                        &((struct tpacket_block_desc *)block)->hdr.bh1))
        return 1;
    /* Not opened again since it was counted (the ring went round). */
    if (header.seq_num < walk->next_seq)
        return 1;
    /* Still being filled. */
    if (index == walk->active && !(header.block_status & BWC_TP_STATUS_USER))
        return 1;
    walk->frame = block + header.offset_to_first_pkt;
    bpf_loop(header.num_pkts < (1u << 17) ? header.num_pkts : (1u << 17), block_frame, walk, 0);
    walk->frames += header.num_pkts;
    walk->next_seq = header.seq_num + 1;
    walk->next = index + 1 < walk->count ? index + 1 : 0;
    return 0;
}

/* One frame (TPACKET_V1, V2) the kernel released, up to the one it fills
 * next; a frame another CPU still fills waits for its own event. */
static long ring_frame(__u64 step, void *context)
{
    struct ring_walk *walk = context;
    const __u32 index = walk->next < walk->count ? walk->next : 0;
    if (index == walk->active || !walk->per_block)
        return 1;
    unsigned long owned = 0;
    bpf_probe_read_kernel(&owned, sizeof(owned), &walk->owners[(index / 64) & 0xFFFFF]);
    if (owned & (1ul << (index % 64)))
        return 1;
    const char *block = 0;
    bpf_probe_read_kernel(&block, sizeof(block),
                          &walk->blocks[(index / walk->per_block) & 0xFFFF].buffer);
    __u32 length = 0;
    if (!block || bpf_probe_read_kernel(&length, sizeof(length),
                                        block + (index % walk->per_block) * walk->frame_size +
                                            walk->length_at))
        return 1;
    walk->bytes += length;
    walk->frames += 1;
    walk->next = index + 1 < walk->count ? index + 1 : 0;
    return 0;
}

static __always_inline void walk_blocks(const struct packet_sock *po, struct ring_walk *walk,
                                        int first)
{
    walk->blocks = BPF_CORE_READ(po, rx_ring.prb_bdqc.pkbdq);
    walk->count = BPF_CORE_READ(po, rx_ring.prb_bdqc.knum_blocks);
    walk->active = BPF_CORE_READ(po, rx_ring.prb_bdqc.kactive_blk_num);
    if (!walk->blocks || !walk->count)
        return;
    if (first) {
        /* From the block being filled on. */
        const char *block = 0;
        bpf_probe_read_kernel(&block, sizeof(block), &walk->blocks[walk->active & 0xFFFF].buffer);
        walk->next = walk->active;
        walk->next_seq = BPF_CORE_READ((struct tpacket_block_desc *)block, hdr.bh1.seq_num);
    }
    bpf_loop(8, ring_block, walk, 0);
}

static __always_inline void walk_frames(const struct packet_sock *po, struct ring_walk *walk,
                                        __u32 version, int first)
{
    walk->blocks = BPF_CORE_READ(po, rx_ring.pg_vec);
    walk->count = BPF_CORE_READ(po, rx_ring.frame_max) + 1;
    walk->active = BPF_CORE_READ(po, rx_ring.head);
    walk->per_block = BPF_CORE_READ(po, rx_ring.frames_per_block);
    walk->frame_size = BPF_CORE_READ(po, rx_ring.frame_size);
    walk->owners = BPF_CORE_READ(po, rx_ring.rx_owner_map);
    /* tp_len follows tp_status: an unsigned long in V1, 32 bits in V2. */
    walk->length_at = version == 0 ? 8 : 4;
    if (!walk->blocks || !walk->owners)
        return;
    if (first)
        walk->next = walk->active ? walk->active - 1 : walk->count - 1;
    bpf_loop(16, ring_frame, walk, 0);
}

SEC("tp_btf/sk_data_ready")
int BPF_PROG(bwc_packet_ring, struct sock *sk)
{
    if (!sk || sk->__sk_common.skc_family != BWC_AF_PACKET)
        return 0;
    const struct packet_sock *po = (const struct packet_sock *)sk;
    if (!BPF_CORE_READ(po, rx_ring.pg_vec))
        return 0; /* no ring: read, and counted, through recvmsg */
    /* Untagged: no watched process set the ring up. */
    struct bwc_sock_tag *tag = bpf_sk_storage_get(&sock_tags, sk, 0, 0);
    if (!tag || !receives_own_frames(sk))
        return 0;
    struct ring_cursor *cursor =
        bpf_sk_storage_get(&ring_cursors, sk, 0, BPF_SK_STORAGE_GET_F_CREATE);
    if (!cursor)
        return 0;
    const __u32 version = BPF_CORE_READ(po, tp_version);
    const int first = cursor->next_seq == 0;
    struct ring_walk walk = {.next = cursor->next, .next_seq = cursor->next_seq};
    if (version == BWC_TPACKET_V3)
        walk_blocks(po, &walk, first);
    else
        walk_frames(po, &walk, version, first);
    cursor->next = walk.next;
    /* V1, V2: not 0, which marks a socket not looked at yet. */
    cursor->next_seq = version == BWC_TPACKET_V3 ? walk.next_seq : 1;
    if (walk.frames)
        add_frames(tag, walk.bytes, walk.frames, 0);
    return 0;
}

SEC("raw_tp/sched_process_exec")
int bwc_exec(void *ctx)
{
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    struct task_struct *task = (struct task_struct *)bpf_get_current_task();
    struct file *exe = exe_file(task);
    if (!exe)
        return 0;
    struct bwc_exe_key key = {};
    struct bwc_tgid_app entry = {.origin = tgid};
    __u32 flags = BWC_NAME_AT_EXEC;
    struct bwc_exe_app *app = exe_app(exe, &key);
    if (app && (app->flags & BWC_EXE_INTERPRETER)) {
        entry.interim = app->app;
        flags |= BWC_NAME_INTERPRETER;
    } else if (app) {
        entry.app = app->app;
    }
    /* A process that had sockets keeps them across exec: user space tags
     * them anew for the program it runs now. */
    struct bwc_tgid_app *before = bpf_map_lookup_elem(&tgid_apps, &tgid);
    const int hadSockets = before && before->sockets;
    bpf_map_update_elem(&tgid_apps, &tgid, &entry, BPF_ANY);
    if (entry.app == BWC_APP_UNKNOWN)
        notify_name(tgid, task, exe, &key, flags);
    if (hadSockets)
        notify(BWC_EVENT_EXEC, tgid, entry.app);
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
    struct bwc_tgid_app *known = bpf_map_lookup_elem(&tgid_apps, &parent);
    if (!known)
        return 0;
    /* The child is what its parent is until it runs another program. */
    struct bwc_tgid_app entry = {known->app, known->interim,
                                 known->sockets ? BWC_SOCKETS_INHERITED : 0, known->origin};
    bpf_map_update_elem(&tgid_apps, &tgid, &entry, BPF_ANY);
    /* It shares the parent's sockets and may outlive it. */
    if (known->sockets)
        notify_child(BWC_EVENT_FORK, tgid, parent, entry.app);
    return 0;
}

SEC("raw_tp/sched_process_exit")
int bwc_exit(void *ctx)
{
    __u64 id = bpf_get_current_pid_tgid();
    __u32 tgid = id >> 32;
    if ((__u32)id != tgid)
        return 0; /* a thread, not the process */
    struct bwc_tgid_app *known = bpf_map_lookup_elem(&tgid_apps, &tgid);
    if (!known)
        return 0;
    const int tell = known->sockets || known->app == BWC_APP_UNKNOWN;
    const __u32 app = known->app;
    bpf_map_delete_elem(&tgid_apps, &tgid);
    if (tell)
        notify(BWC_EVENT_EXIT, tgid, app);
    return 0;
}
