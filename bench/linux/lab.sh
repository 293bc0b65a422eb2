# The Linux benchmarks' lab, sourced after `set -euo pipefail`:
#   source lab.sh PREFIX SUBNET TOOL...
# checks for root and the tools, then makes two network namespaces $a and $b
# joined by a veth pair ($SUBNET.1 in $a, $SUBNET.2 in $b), a cgroup $cgroup
# and a port $port, and turns on the kernel's BPF run-time statistics. On
# exit, also when interrupted, it ends the processes listed in $pids and
# removes all of it with the files /tmp/$name.*. Each script has a subnet of
# its own, so that two of them may run at once.
[ "$(id -u)" = 0 ] || { echo "needs root" >&2; exit 1; }
for tool in "${@:3}"; do
  command -v "$tool" > /dev/null || { echo "needs $tool" >&2; exit 1; }
done

name=$1$$
subnet=$2
a=${name}a b=${name}b
mount=$(awk '$9 == "cgroup2" { print $5; exit }' /proc/self/mountinfo)
cgroup=$mount/$name
port=$(( 20000 + $$ % 20000 ))
stats_before=$(sysctl -n kernel.bpf_stats_enabled)
pids=()

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  wait 2> /dev/null || true
  [ -d "$cgroup" ] && { echo 1 > "$cgroup/cgroup.kill"; sleep 0.2; rmdir "$cgroup" 2> /dev/null || true; }
  ip netns del "$a" 2> /dev/null || true
  ip netns del "$b" 2> /dev/null || true
  sysctl -qw kernel.bpf_stats_enabled="$stats_before"
  rm -f "/tmp/$name".*
}
trap cleanup EXIT INT TERM

ip netns add "$a"; ip netns add "$b"
ip link add "$a" netns "$a" type veth peer name "$b" netns "$b"
ip -n "$a" addr add "$subnet.1/24" dev "$a"; ip -n "$b" addr add "$subnet.2/24" dev "$b"
ip -n "$a" link set "$a" up; ip -n "$b" link set "$b" up
mkdir "$cgroup"
sysctl -qw kernel.bpf_stats_enabled=1

# Runs a command line inside the cgroup.
in_cgroup() { sh -c "echo \$\$ > $cgroup/cgroup.procs; exec $*"; }

# Starts bwcd (BINARY, else the build's) on the cgroup, with $a as its own
# namespace and $((port + 1)) as its port, and returns once it listens.
start_bwcd() {
  rm -f "/tmp/$name.json"
  BWC_LINUX_CGROUP=$cgroup BWC_LINUX_NETNS=/run/netns/$a QT_LOGGING_RULES='*.debug=false' \
    "${1:-$build/bin/bwcd}" --backend linux --port $((port + 1)) --state "/tmp/$name.json" \
    2> "/tmp/$name.bwcd" &
  bwcd_pid=$!; pids+=("$bwcd_pid")
  for _ in $(seq 100); do grep -q listening "/tmp/$name.bwcd" && return; sleep 0.1; done
  echo "bwcd did not start: $(cat "/tmp/$name.bwcd")" >&2; exit 1
}
stop_bwcd() { kill "$bwcd_pid"; wait "$bwcd_pid" 2> /dev/null || true; bwcd_pid=; }
