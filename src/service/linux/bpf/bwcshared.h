/* Records shared by bwcd's BPF programs and its user space, and by any
 * second BPF object that reuses bwcd's maps (see socketregistry.h). Plain C:
 * this header is compiled by clang for the BPF target and by the C++ build. */
#ifndef BWC_BPF_SHARED_H
#define BWC_BPF_SHARED_H

#ifdef __BPF__
typedef __u32 bwc_u32;
typedef __u64 bwc_u64;
#else
#include <stdint.h>
typedef uint32_t bwc_u32;
typedef uint64_t bwc_u64;
#endif

/* Application number 0: not (yet) known. Numbers are handed out by user
 * space only, one per application, and never reused while bwcd runs. */
#define BWC_APP_UNKNOWN 0u

/* sock_tags (socket storage): the application a socket belongs to and the
 * process that created it (or that user space found holding it). */
struct bwc_sock_tag {
    bwc_u32 app;
    bwc_u32 tgid;
    bwc_u32 exec; /* the process's exec count (low bits) when it last used the
                   * socket; 0 where nobody looked */
};

/* tgid_apps (hash, tgid -> value): the application of a process, written by
 * the exec program from exe_apps, copied to a child by the fork program and
 * completed by user space where the kernel cannot name the program. */
struct bwc_tgid_app {
    bwc_u32 app;       /* BWC_APP_UNKNOWN while not named yet */
    bwc_u32 interim;   /* until then, the number whose rules apply (an
                        * interpreter's); BWC_APP_UNKNOWN: the defaults */
    bwc_u32 sockets;   /* BWC_SOCKETS_* */
    bwc_u32 origin;    /* the process whose exec this comes from (a fork's parent's) */
};

#define BWC_SOCKETS_ANNOUNCED 1u /* user space heard of the process's own sockets */
#define BWC_SOCKETS_INHERITED 2u /* it may hold sockets of the process it was forked from */

/* exe_apps (hash, executable -> value): the application of each executable
 * file user space knows, by the device and inode the kernel sees. */
struct bwc_exe_key {
    bwc_u32 dev; /* the kernel's dev_t: major << 20 | minor */
    bwc_u32 pad;
    bwc_u64 ino;
};
#define BWC_EXE_INTERPRETER 1u /* runs scripts: user space names the process */
struct bwc_exe_app {
    bwc_u32 app;
    bwc_u32 flags;
};

/* traffic (per-CPU hash): what went through sockets of one (app, tgid).
 * { 0, 0 } collects packets of sockets without a tag. Bytes are IP-layer
 * bytes as on the wire: GSO and GRO super-packets count their headers once
 * per segment. Traffic on a loopback device never leaves the machine and is
 * kept apart, in the local_ fields. */
struct bwc_traffic_key {
    bwc_u32 app;
    bwc_u32 tgid;
};
struct bwc_traffic {
    bwc_u64 tx_bytes;
    bwc_u64 rx_bytes;
    bwc_u64 tx_packets;
    bwc_u64 rx_packets;
    bwc_u64 local_tx_bytes;
    bwc_u64 local_rx_bytes;
};

/* events (ring buffer) for user space. */
enum bwc_event_kind {
    BWC_EVENT_SOCKET = 1, /* a process made its first socket */
    BWC_EVENT_EXEC = 2,   /* a process with sockets ran a new program */
    BWC_EVENT_EXIT = 3,   /* a process with sockets, or not named yet, ended */
    BWC_EVENT_FORK = 4,   /* a process with sockets made a child, which holds them too */
    BWC_EVENT_NAME = 5,   /* what names a process the kernel cannot name (bwc_name_event) */
    BWC_EVENT_RING = 6,   /* a process set up a packet socket's receive ring */
};
struct bwc_event {
    bwc_u32 kind;
    bwc_u32 tgid;
    bwc_u32 parent; /* BWC_EVENT_FORK: the process that made the child;
                     * BWC_EVENT_SOCKET: the process whose exec named it */
    bwc_u32 app;    /* the process's application as the kernel knows it */
    char comm[16];
};

/* Paths are the kernel's own, walked from the file's dentry up to the root of
 * its mount tree, as bytes; args as the new program found them, NUL-separated. */
#define BWC_NAME_PATH_MAX 1024
#define BWC_NAME_ARGS_MAX 1024
#define BWC_NAME_AT_EXEC 1u     /* cwd and args were read at exec */
#define BWC_NAME_TRUNCATED 2u   /* a path or the args did not fit */
#define BWC_NAME_INTERPRETER 4u /* the executable runs scripts */
struct bwc_name_event {
    struct bwc_event head;
    bwc_u32 flags;
    bwc_u32 dev; /* the executable, as in bwc_exe_key */
    bwc_u64 ino;
    bwc_u32 uid; /* effective ids of the new program */
    bwc_u32 gid;
    bwc_u32 exe_len;
    bwc_u32 cwd_len;
    bwc_u32 args_len;
    bwc_u32 mntns; /* the inode of the process's mount namespace */
    char exe[BWC_NAME_PATH_MAX];
    char cwd[BWC_NAME_PATH_MAX];
    char args[BWC_NAME_ARGS_MAX];
};

#endif
