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
 * space only, one per application, and stay below BWC_APP_LIMIT so that they
 * fit a traffic-control class minor number. */
#define BWC_APP_UNKNOWN 0u
#define BWC_APP_LIMIT 0xFFF0u

/* sock_tags (socket storage): the application a socket belongs to and the
 * process that created it (or that user space found holding it). */
struct bwc_sock_tag {
    bwc_u32 app;
    bwc_u32 tgid;
};

/* tgid_apps (hash, tgid -> value): the application of a process. app is
 * BWC_APP_UNKNOWN while user space has not resolved it yet. */
struct bwc_tgid_app {
    bwc_u32 app;
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
    BWC_EVENT_SOCKET = 1, /* a process of no known application made its first socket */
    BWC_EVENT_EXEC = 2,   /* a process we track, or a child of one, ran a new program */
    BWC_EVENT_EXIT = 3,   /* a process we track ended */
    BWC_EVENT_FORK = 4,   /* a process we track made a child, which holds its sockets too */
};
struct bwc_event {
    bwc_u32 kind;
    bwc_u32 tgid;
    bwc_u32 parent; /* for BWC_EVENT_FORK: the process that made the child */
    char comm[16];
};

#endif
