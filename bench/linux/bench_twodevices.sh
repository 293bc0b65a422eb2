#!/usr/bin/env bash
# How close one program's cap comes to one cap when the program sends or
# receives through two devices at once: two iperf3 clients of one program in
# bwcd's namespace, each to a peer behind its own veth pair, capped through
# bwcctl. Each device's tree has buckets of its own; bwcd shares the cap
# between them once a second, so together they carry the cap (payload: 0.99
# of it with TCP's headers). Needs root, iperf3 and nsenter; removes
# everything it made, also when interrupted.
#   bash bench/linux/bench_twodevices.sh [BUILD_DIR] [CAP_MBIT] [SECONDS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
cap=${2:-10}
seconds=${3:-20}
source "$(dirname "$0")/lab.sh" bwctwo 10.211.80 iperf3 nsenter python3
# The second pair takes the next subnet: no other script may use 10.211.81.
c=${name}c
trap 'ip netns del "$c" 2> /dev/null || true; cleanup' EXIT INT TERM
ip netns add "$c"
ip link add "${a}2" netns "$a" type veth peer name "$c" netns "$c"
ip -n "$a" addr add 10.211.81.1/24 dev "${a}2"; ip -n "$c" addr add 10.211.81.2/24 dev "$c"
ip -n "$a" link set "${a}2" up; ip -n "$c" link set "$c" up

start_bwcd
bwcctl() { "$build/bin/bwcctl" --port "$((port + 1))" "$@"; }

for direction in up down; do
  reverse=""; [ $direction = down ] && reverse="-R"
  rm -f "/tmp/$name".[0-9]*
  for peer in 1 2; do
    ns=$b; address=10.211.80.2; [ $peer = 2 ] && { ns=$c; address=10.211.81.2; }
    # The receiving end's own report of each second.
    ip netns exec "$ns" iperf3 -s -1 -J -p "$((port + 2))" > "/tmp/$name.$peer.server" &
    pids+=($!)
    sleep 0.3
    in_cgroup nsenter --net=/run/netns/"$a" iperf3 -c $address -p "$((port + 2))" \
      -t "$seconds" -J $reverse > "/tmp/$name.$peer.client" &
    pids+=($!)
  done
  for _ in $(seq 100); do bwcctl apps 2> /dev/null | grep -q iperf3 && break; sleep 0.1; done
  bwcctl limit iperf3 "$direction" "${cap}M" > /dev/null
  wait "${pids[@]: -4}" 2> /dev/null || true
  receiver=server; [ $direction = down ] && receiver=client
  python3 - "$direction" "$cap" "/tmp/$name.1.$receiver" "/tmp/$name.2.$receiver" << 'EOF'
import json, statistics, sys
direction, cap = sys.argv[1], float(sys.argv[2]) * 1e6
seconds = []
for path in sys.argv[3:]:
    intervals = json.load(open(path))["intervals"]
    # From the eighth second on: the cap comes once bwcd lists the program,
    # and a download capped at full speed takes seconds to settle (its
    # sender backs off after the drops, then sends what it held back).
    seconds.append([i["sum"]["bits_per_second"] for i in intervals if i["sum"]["start"] >= 8])
n = min(len(s) for s in seconds)
both = [seconds[0][k] + seconds[1][k] for k in range(n)]
print("%-4s payload, median second as a share of the cap: device 1 %.3f, device 2 %.3f, both %.3f"
      % (direction, statistics.median(seconds[0]) / cap, statistics.median(seconds[1]) / cap,
         statistics.median(both) / cap))
for k, device in enumerate(seconds):
    print("     device %d, each second: %s" % (k + 1, " ".join("%.2f" % (x / cap) for x in device)))
EOF
  bwcctl limit iperf3 "$direction" none > /dev/null
done
