#!/usr/bin/env bash
# CPU of bwcd's Linux backend against nethogs measuring the same traffic, and
# iperf3's throughput with and without bwcd attached. Needs root, iperf3,
# nethogs and bpftool; runs between two network namespaces joined by a veth
# pair and removes everything it made, also when interrupted.
#   bash bench/linux/bench_linux.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
seconds=${2:-10}
bwcd=$build/bin/bwcd
source "$(dirname "$0")/lab.sh" bwcmon 10.211.78 iperf3 nethogs bpftool nsenter

# Processor time of every thread of PID so far, in nanoseconds: the scheduler's
# own count, since /proc/PID/stat's clock ticks (10 ms) are coarser than the
# whole figure at 100 Mbit/s over a few seconds.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2> /dev/null | awk '{ sum += $1 } END { print sum + 0 }'; }
bpf_ns() { # [PREFIX] run time of bwcd's programs (or those whose name starts with PREFIX) so far
  bpftool prog show -j | python3 -c '
import json, sys
prefix = sys.argv[1]
print(sum(p.get("run_time_ns", 0) for p in json.load(sys.stdin) if p.get("name", "").startswith(prefix)))' "${1:-bwc_}"
}
# iperf3 from namespace a (inside the measured cgroup) to b; prints bits per second.
transfer() { # RATE SECONDS
  nsenter --net="/run/netns/$b" iperf3 -s -1 -p "$port" > /dev/null &
  sleep 0.5
  sh -c "echo \$\$ > $cgroup/cgroup.procs; exec nsenter --net=/run/netns/$a iperf3 -c 10.211.78.2 -p $port -b $1 -t $2 -J" |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["end"]["sum_received"]["bits_per_second"])'
  wait $!
}
# The same in the background for SECONDS and 2 s more, with its report in
# /tmp/$name.iperf, so that the caller can measure a steady second-long
# stretch of it: without the program's start (bwcd naming a new process) and
# its end, which cost the same at any rate.
transfer_start() { # RATE SECONDS
  nsenter --net="/run/netns/$b" iperf3 -s -1 -p "$port" > /dev/null &
  server_pid=$!
  sleep 0.5
  in_cgroup nsenter --net=/run/netns/$a iperf3 -c "$subnet.2" -p "$port" -b "$1" -t $(($2 + 2)) -J \
    > "/tmp/$name.iperf" &
  client_pid=$!
  sleep 1
}
transfer_end() { # sets bps, in this shell (its processes are not a subshell's children)
  wait "$client_pid" "$server_pid"
  bps=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["end"]["sum_received"]["bits_per_second"])' \
    "/tmp/$name.iperf")
}
start_bwcd() {
  BWC_LINUX_CGROUP=$cgroup "$bwcd" --backend linux --port $((port + 1)) --state "/tmp/$name.json" 2> /dev/null &
  bwcd_pid=$!; pids+=("$bwcd_pid")
  sleep 1
}

start_bwcd
nsenter --net="/run/netns/$a" nethogs -t -C -d 1 "$a" > /dev/null 2>&1 &
nethogs_pid=$!; pids+=("$nethogs_pid")
sleep 1

echo "== CPU while measuring the same traffic (${seconds} s per rate; % of one core)"
# "packets": the part of BPF spent by the packet-socket counting at every
# socket's send; "without" is bwcd+BPF less that part. (The program at every
# socket's read counts packet sockets and hands IP sockets to their reader;
# it stays in "without".)
# The per-Gbit/s figures are the cost above the idle row: the idle cost (the
# service's timers, and its exec, fork and socket hooks firing for whatever
# else the machine runs) does not grow with traffic, and at 100 Mbit/s it
# would otherwise be most of the figure and decide it by the machine's weather.
printf '%-8s %12s %10s %10s %10s %10s %16s %10s %16s\n' rate Gbit/s bwcd BPF bwcd+BPF nethogs \
  "bwcd+BPF/Gbit/s" packets "without/Gbit/s"
for rate in 0 100M 0max; do
  [ "$rate" = 0 ] || transfer_start "${rate%max}" "$seconds"
  b0=$(cpu_ns "$bwcd_pid"); n0=$(cpu_ns "$nethogs_pid"); k0=$(bpf_ns); p0=$(bpf_ns bwc_packet_); t0=$(date +%s.%N)
  sleep "$seconds"
  b1=$(cpu_ns "$bwcd_pid"); n1=$(cpu_ns "$nethogs_pid"); k1=$(bpf_ns); p1=$(bpf_ns bwc_packet_); t1=$(date +%s.%N)
  if [ "$rate" = 0 ]; then bps=0; else transfer_end; fi
  python3 - "$rate" "$bps" "$b0" "$b1" "$n0" "$n1" "$k0" "$k1" "$t0" "$t1" "$p0" "$p1" "/tmp/$name.idle" >> "/tmp/$name.cpu" <<'PY'
import sys
rate, bps, b0, b1, n0, n1, k0, k1, t0, t1, p0, p1 = sys.argv[1:13]
wall = float(t1) - float(t0)
bwcd = (int(b1) - int(b0)) / 1e9 / wall * 100
nethogs = (int(n1) - int(n0)) / 1e9 / wall * 100
bpf = (int(k1) - int(k0)) / 1e9 / wall * 100
gbit = float(bps) / 1e9
packets = (int(p1) - int(p0)) / 1e9 / wall * 100
idle_file = sys.argv[13]
if rate == "0":
    open(idle_file, "w").write(f"{bwcd + bpf} {packets}")
idle, idle_packets = map(float, open(idle_file).read().split())
above = max(bwcd + bpf - idle, 0.0)
per = above / gbit if gbit > 0 else float("nan")
without = max(above - max(packets - idle_packets, 0.0), 0.0) / gbit if gbit > 0 else float("nan")
name = "max" if rate == "0max" else rate
print(f"{name:<8} {gbit:12.3f} {bwcd:9.2f}% {bpf:9.2f}% {bwcd + bpf:9.2f}% {nethogs:9.2f}% {per:15.3f}% "
      f"{packets:9.3f}% {without:15.3f}%")
PY
  tail -1 "/tmp/$name.cpu"
done
kill "$nethogs_pid"; wait "$nethogs_pid" 2> /dev/null || true

echo "== iperf3 throughput at the fastest rate, without and with bwcd (Gbit/s, ${seconds} s runs)"
with=(); without=()
for round in 1 2 3 4 5; do
  kill "$bwcd_pid"; wait "$bwcd_pid" 2> /dev/null || true
  without+=("$(transfer 0 "$seconds")")
  start_bwcd
  with+=("$(transfer 0 "$seconds")")
done
python3 - "${without[*]}" "${with[*]}" <<'PY'
import statistics, sys
without = [float(x) / 1e9 for x in sys.argv[1].split()]
with_ = [float(x) / 1e9 for x in sys.argv[2].split()]
mo, mw = statistics.median(without), statistics.median(with_)
print("without:", " ".join(f"{x:.2f}" for x in without), f"median {mo:.2f}")
print("with:   ", " ".join(f"{x:.2f}" for x in with_), f"median {mw:.2f}")
print(f"loss: {(1 - mw / mo) * 100:.1f} %")
PY

# The CPU targets (throughput on a shared machine is too noisy to gate on):
# below nethogs wherever traffic flows, and at most 1 % of a core per Gbit/s
# above idle at the fastest rate. At 100 Mbit/s the figure is printed but not
# held to that: there the packets leave one by one rather than in offloaded
# batches, so it is the cost per packet (about 0.1-0.2 % of a core in all,
# the same order as the idle cost's own wobble between two windows).
python3 - "/tmp/$name.cpu" <<'PY'
import sys
failed = False
for line in open(sys.argv[1]):
    rate, gbit, bwcd, bpf, ours, nethogs, per = line.split()[:7]
    if rate == "0":
        continue
    if float(ours.rstrip("%")) >= float(nethogs.rstrip("%")) or (rate == "max" and float(per.rstrip("%")) > 1.0):
        print(f"target missed at {rate}: {line.strip()}")
        failed = True
sys.exit(1 if failed else 0)
PY
