#!/usr/bin/env bash
# Builds everything, makes sure the bandwidth-control service runs (starting
# bwcd with its simulated backend when nothing listens on the port) and opens
# the suite's window with the Applications module. Without a display the
# window runs under Xvfb and a screenshot is written instead.
#   BWC_PORT   the service port (default 7789)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/setup.sh
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBWC_BUILD_TESTS=OFF \
  -DBWC_BUILD_BENCH=OFF > /dev/null
ninja -C build-run -j"$(nproc)"
bin=$root/build-run/bin
port=${BWC_PORT:-7789}

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2> /dev/null; }

pid=
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
  fi
}
trap cleanup EXIT
if listening "$port"; then
  echo "run: a service already listens on 127.0.0.1:$port; using it"
else
  echo "run: starting bwcd (simulated backend) on 127.0.0.1:$port"
  mkdir -p "$root/build-run/state"
  QT_QPA_PLATFORM=offscreen "$bin/bwcd" --backend simulated --port "$port" \
    --state "$root/build-run/state/bwcd-state.json" &
  pid=$!
  for _ in $(seq 100); do
    listening "$port" && break
    kill -0 "$pid" 2> /dev/null || { echo "run: bwcd did not start" >&2; exit 1; }
    sleep 0.1
  done
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$bin/suitehost" --port "$port"
else
  shot=$root/build-run/screenshots/suitehost.png
  mkdir -p "$(dirname "$shot")"
  echo "run: no display; running the window under Xvfb"
  xvfb-run -a -s "-screen 0 1600x900x24" "$bin/suitehost" --port "$port" --screenshot "$shot"
  echo "run: screenshot of the window: $shot"
fi
