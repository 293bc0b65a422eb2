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
 * process is the one using the socket, before what it sends is queued. */
static __always_inline void follow_user(struct bwc_sock_tag *tag)
{
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    struct bwc_tgid_app *user = bpf_map_lookup_elem(&tgid_apps, &tgid);
    if (!user || (tag->tgid == tgid && tag->app == user->app))
        return;
    /* An application not known yet is looked up through the process
     * whenever a packet asks, as for a socket made before it was named. */
    tag->app = user->app;
    tag->tgid = tgid;
}

/* The same for a socket the kernel hands over typed. */
static __always_inline void follow_user_of(struct sock *sk)
{
    __u16 family = sk->__sk_common.skc_family;
    if (family != BWC_AF_INET && family != BWC_AF_INET6)
        return;
    struct bwc_sock_tag *tag = bpf_sk_storage_get(&sock_tags, sk, 0, 0);
    if (tag)
        follow_user(tag);
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
                follow_user(tag);
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
static __always_inline void count_frames(struct sock *sk, int bytes, int egress)
{
    if (bytes <= 0 || !sk || sk->__sk_common.skc_family != BWC_AF_PACKET)
        return;
    if (bpf_current_task_under_cgroup(&scope, 0) != 1)
        return;
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    struct bwc_sock_tag *tag = bpf_sk_storage_get(&sock_tags, sk, 0, 0);
    if (!tag) {
        /* No creation hook for these: the first process to use the socket
         * tags it, as sock_create does for INET sockets. */
        tag = bpf_sk_storage_get(&sock_tags, sk, 0, BPF_SK_STORAGE_GET_F_CREATE);
        if (!tag)
            return;
        tag->app = socket_owner(tgid);
        tag->tgid = tgid;
    } else if (tag->app == BWC_APP_UNKNOWN) {
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
        sum->tx_packets += 1;
    } else {
        sum->rx_bytes += bytes;
        sum->rx_packets += 1;
    }
}

SEC("tp_btf/sock_send_length")
int BPF_PROG(bwc_packet_send, struct sock *sk, int ret, int flags)
{
    count_frames(sk, ret, 1);
    return 0;
}

/* A peek leaves the frame queued: it is counted when it is read. */
SEC("tp_btf/sock_recv_length")
int BPF_PROG(bwc_packet_recv, struct sock *sk, int ret, int flags)
{
    if (!(flags & BWC_MSG_PEEK))
        count_frames(sk, ret, 0);
    /* What arrives from now on is for the program that reads it. */
    if (ret > 0)
        follow_user_of(sk);
    return 0;
}

/* Before a TCP send queues its bytes (whatever sends them later, a timer or
 * an acknowledgement, is not the process). */
SEC("tp_btf/tcp_sendmsg_locked")
int BPF_PROG(bwc_tcp_send, struct sock *sk, struct msghdr *msg, struct sk_buff *skb, int size_goal)
{
    follow_user_of(sk);
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
