#!/bin/sh
# Runs after the enforcement tests, however they ended: fails if any of their
# namespaces, links, qdiscs, cgroups or BPF attachments is left.
[ "$(id -u)" = 0 ] || { echo "not root: nothing was made"; exit 0; }
left=$( { ip netns list; ip link show; tc qdisc show; bpftool cgroup tree 2>/dev/null; \
          ls /sys/fs/cgroup /sys/fs/cgroup/unified 2>/dev/null; } | grep -E 'bwct[0-9]|bwcifb|b0c[12]:' )
[ -z "$left" ] || { echo "left behind:"; echo "$left"; exit 1; }
echo "nothing left"
