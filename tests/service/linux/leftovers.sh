#!/bin/sh
# Runs after the enforcement tests, however they ended: fails if any of their
# namespaces, links, qdiscs, cgroups or BPF attachments is left (those of a
# test process still running elsewhere are its own business).
[ "$(id -u)" = 0 ] || { echo "not root: nothing was made"; exit 0; }
seen=$( { ip netns list; ip link show; tc qdisc show; bpftool cgroup tree 2>/dev/null; \
          ls /sys/fs/cgroup /sys/fs/cgroup/unified 2>/dev/null; } )
left=$( { echo "$seen" | grep -o 'bwct[0-9][0-9]*' | sort -u |
            while read -r name; do kill -0 "${name#bwct}" 2>/dev/null || echo "$name"; done
          echo "$seen" | grep -E 'bwcifb|b0c[12]:'; } )
[ -z "$left" ] || { echo "left behind:"; echo "$left"; exit 1; }
echo "nothing left"
