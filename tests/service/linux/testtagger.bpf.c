// SPDX-License-Identifier: GPL-2.0
/* Stands in for the observer in tests: tags each new socket with the
 * application number given to the cgroup its process runs in. */

#include <linux/bpf.h>

#include <bpf/bpf_helpers.h>

#include "enforcement.h"

char LICENSE[] SEC("license") = "GPL";

struct
{
    __uint(type, BPF_MAP_TYPE_SK_STORAGE);
    __uint(map_flags, BPF_F_NO_PREALLOC | BPF_F_CLONE);
    __type(key, int);
    __type(value, struct bwc_sock_tag);
} sock_tags SEC(".maps");

struct
{
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 64);
    __type(key, __u64);
    __type(value, __u32);
} cgroup_apps SEC(".maps");

SEC("cgroup/sock_create")
int tag_socket(struct bpf_sock* sk)
{
    __u64 cgroup = bpf_get_current_cgroup_id();
    const __u32* app = bpf_map_lookup_elem(&cgroup_apps, &cgroup);
    if (!app)
        return 1;
    struct bwc_sock_tag* tag =
        bpf_sk_storage_get(&sock_tags, sk, 0, BPF_SK_STORAGE_GET_F_CREATE);
    if (tag)
        tag->app = *app;
    return 1;
}
