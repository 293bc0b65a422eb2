/* Shared between the enforcement BPF programs and the C++ side that fills
 * their maps; plain C so that both compilers read it. */
#ifndef BWC_ENFORCEMENT_H
#define BWC_ENFORCEMENT_H

#include <linux/types.h>

/* The socket tags (struct bwc_sock_tag) and application numbers are the
 * traffic monitor's; enforcement only reads them. */
#include "bwcshared.h"

/* Rule flags of one application. */
#define BWC_RULE_BLOCKED 1u

/* What enforcement does with one application's packets. A class minor of 0
 * sends the packet past the shaper; otherwise the packet goes to that leaf of
 * the HTB tree of its direction. */
struct bwc_app_rule
{
    __u16 upload_minor;
    __u16 download_minor;
    __u32 flags;
    /* Most bytes per second a TCP socket of the application paces its
     * sending at, 0 for no such limit; see the sock_ops program. */
    __u32 upload_pace;
};

/* Config flags. */
#define BWC_CONFIG_SHAPE_UNTAGGED 1u /* packets of no watched socket meet the fallback */
#define BWC_CONFIG_DOWNLOAD_ALL 2u   /* every received packet passes the download tree */
#define BWC_CONFIG_LAN_EXEMPT 4u     /* traffic with the local network passes the shaper */

/* A prefix of the local network (LPM trie key); IPv4 as ::ffff:a.b.c.d. */
struct bwc_lan_key
{
    __u32 prefixlen;
    __u32 addr[4]; /* network byte order */
};

/* Settings for the whole machine, the single element of an array map. */
struct bwc_enforce_config
{
    __u32 enabled;          /* 0: every program lets everything pass untouched */
    __u32 flags;
    __u32 upload_handle;    /* HTB qdisc handle (major << 16) of the upload trees */
    __u32 download_handle;  /* the same for the download trees on the IFB devices */
    struct bwc_app_rule fallback; /* sockets without a tag or of an unknown application */
};

/* A device whose download is shaped: its IFB device, and the length of the
 * link header in front of the IP header of a received packet (14 on
 * Ethernet, 0 on tun devices and IP tunnels). */
struct bwc_download_device
{
    __u32 ifb;
    __u32 link_header;
};

/* A device of some network namespace: the namespace's cookie (as
 * SO_NETNS_COOKIE gives it) and the device's index there. */
struct bwc_device_key
{
    __u64 netns;
    __u32 ifindex;
    __u32 pad;
};

/* Keys of the application rule map. */
typedef __u32 bwc_app_key;

#endif
