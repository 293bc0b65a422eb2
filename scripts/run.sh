#!/usr/bin/env bash
# Builds the tools, starts the reference service on a free loopback port and
# shows the applications and live statistics through the command-line client.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBWC_BUILD_TESTS=OFF \
  -DBWC_BUILD_BENCH=OFF > /dev/null
ninja -C build-run -j"$(nproc)" bwcctl bwcd
export QT_QPA_PLATFORM=offscreen
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
state=$(mktemp -d)
build-run/bin/bwcd --port "$port" --state "$state/state.json" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$state"' EXIT
for _ in $(seq 50); do
  build-run/bin/bwcctl --port "$port" --timeout 1000 globals > /dev/null 2>&1 && break
  sleep 0.2
done
echo "== bwcctl apps"
build-run/bin/bwcctl --port "$port" apps
sleep 2
echo "== bwcctl stats"
build-run/bin/bwcctl --port "$port" stats
