#!/usr/bin/env bash
# What knowing every process from its exec costs: the exec, fork and exit
# programs per call, the time of 10,000 starts of /bin/true without and with
# bwcd, bwcd's CPU while 100 processes start each second, the look at the
# socket in every read, and the counting programs' CPU per Gbit/s. With a second bwcd (an older build) every figure
# is taken for both in the same run. Needs root, iperf3, bpftool and nsenter;
# removes everything it made, also when interrupted.
#   bash bench/linux/bench_exec.sh [BUILD_DIR] [BASELINE_BWCD] [SECONDS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
baseline=${2:-}
seconds=${3:-10}
source "$(dirname "$0")/lab.sh" bwcexec 10.211.79 iperf3 bpftool nsenter python3
hz=$(getconf CLK_TCK)

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# run time and count of bwcd's programs whose name matches $1, as "ns count"
bpf_runs() {
  bpftool prog show -j | python3 -c '
import json, re, sys
ns = count = 0
for p in json.load(sys.stdin):
    if re.fullmatch(sys.argv[1], p.get("name", "")):
        ns += p.get("run_time_ns", 0); count += p.get("run_cnt", 0)
print(ns, count)' "$1"
}
starts() { # COUNT: seconds for COUNT starts of /bin/true in the cgroup
  in_cgroup bash -c "'s=\$(date +%s.%N); for ((i = 0; i < $1; i++)); do /bin/true; done; e=\$(date +%s.%N); echo \"\$e - \$s\" | bc'"
}
median() { python3 -c 'import statistics, sys; print(statistics.median(float(x) for x in sys.argv[1:]))' "$@"; }

binaries=("$build/bin/bwcd")
[ -n "$baseline" ] && binaries+=("$baseline")

echo "== 10,000 starts of /bin/true (µs per start, median of 3)"
runs=(); for round in 1 2 3; do runs+=("$(starts 10000)"); done
without=$(median "${runs[@]}")
printf '%-40s %8.1f\n' "without bwcd" "$(echo "$without * 100" | bc -l)"
for binary in "${binaries[@]}"; do
  start_bwcd "$binary"
  read -r ns0 n0 < <(bpf_runs 'bwc_(exec|fork|exit)')
  runs=(); for round in 1 2 3; do runs+=("$(starts 10000)"); done
  read -r ns1 n1 < <(bpf_runs 'bwc_(exec|fork|exit)')
  with=$(median "${runs[@]}")
  printf '%-40s %8.1f   (+%.1f µs; exec+fork+exit programs %.0f ns per call)\n' "$binary" \
    "$(echo "$with * 100" | bc -l)" "$(echo "($with - $without) * 100" | bc -l)" \
    "$(echo "($ns1 - $ns0) / ($n1 - $n0 + 1)" | bc -l)"
  for prog in exec fork; do
    read -r ns0 n0 < <(bpf_runs "bwc_$prog")
    starts 2000 > /dev/null
    read -r ns1 n1 < <(bpf_runs "bwc_$prog")
    printf '    bwc_%-5s %8.0f ns per call\n' "$prog" "$(echo "($ns1 - $ns0) / ($n1 - $n0 + 1)" | bc -l)"
  done
  stop_bwcd
done

echo "== bwcd's CPU while 100 processes start each second (${seconds} s; % of one core)"
for binary in "${binaries[@]}"; do
  start_bwcd "$binary"
  t0=$(ticks "$bwcd_pid"); read -r k0 _ < <(bpf_runs 'bwc_.*')
  in_cgroup bash -c "'for ((i = 0; i < $seconds * 100; i++)); do /bin/true & sleep 0.01; done; wait'"
  t1=$(ticks "$bwcd_pid"); read -r k1 _ < <(bpf_runs 'bwc_.*')
  printf '%-40s bwcd %5.2f %%   its BPF programs %5.2f %%\n' "$binary" \
    "$(echo "($t1 - $t0) / $hz / $seconds * 100" | bc -l)" "$(echo "($k1 - $k0) / 1000000000 / $seconds * 100" | bc -l)"
  stop_bwcd
done

echo "== a look at the socket in every read (iperf3 download in 1 KB reads, ${seconds} s)"
for binary in "${binaries[@]}"; do
  start_bwcd "$binary"
  nsenter --net="/run/netns/$b" iperf3 -s -1 -p "$port" > /dev/null &
  server=$!
  sleep 0.5
  read -r ns0 n0 < <(bpf_runs 'bwc_(sock|packet)_recv')
  in_cgroup nsenter --net="/run/netns/$a" iperf3 -c 10.211.79.2 -p "$port" -t "$seconds" -R -l 1K > /dev/null
  wait "$server"
  read -r ns1 n1 < <(bpf_runs 'bwc_(sock|packet)_recv')
  printf '%-40s %6.1f ns per read, %d reads\n' "$binary" \
    "$(echo "($ns1 - $ns0) / ($n1 - $n0 + 1)" | bc -l)" "$((n1 - n0))"
  stop_bwcd
done

echo "== counting CPU per Gbit/s (iperf3 at full speed, ${seconds} s; % of one core per Gbit/s)"
for binary in "${binaries[@]}"; do
  start_bwcd "$binary"
  nsenter --net="/run/netns/$b" iperf3 -s -1 -p "$port" > /dev/null &
  server=$!
  sleep 0.5
  t0=$(ticks "$bwcd_pid"); read -r k0 _ < <(bpf_runs 'bwc_(egress|ingress)')
  bps=$(in_cgroup nsenter --net="/run/netns/$a" iperf3 -c 10.211.79.2 -p "$port" -t "$seconds" -J |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["end"]["sum_received"]["bits_per_second"])')
  wait "$server"
  t1=$(ticks "$bwcd_pid"); read -r k1 _ < <(bpf_runs 'bwc_(egress|ingress)')
  python3 - "$binary" "$bps" "$t0" "$t1" "$k0" "$k1" "$hz" "$seconds" <<'PY'
import sys
binary, bps, t0, t1, k0, k1, hz, seconds = sys.argv[1:]
gbit = float(bps) / 1e9
bwcd = (int(t1) - int(t0)) / int(hz) / float(seconds) * 100
bpf = (int(k1) - int(k0)) / 1e9 / float(seconds) * 100
print(f"{binary:<40} {gbit:6.2f} Gbit/s  bwcd {bwcd:5.2f} %  counting {bpf:5.2f} %  "
      f"per Gbit/s {(bwcd + bpf) / gbit:6.3f} %")
PY
  stop_bwcd
done
