#!/usr/bin/env bash
# Builds from scratch and runs every check: the transport tests under
# ThreadSanitizer, the fuzzers (frame reader, server session) under ASan/UBSan,
# then every unit test.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

bash scripts/setup.sh

echo "== transport tests under ThreadSanitizer"
rm -rf build-tsan
CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBWC_SANITIZE=thread -DBWC_BUILD_BENCH=OFF > build-tsan.log
tsan_tests=$(ctest --test-dir build-tsan -N -L transport | awk '/Test +#/ {print $3}')
if [ -n "$tsan_tests" ]; then
  ninja -C build-tsan -j"$jobs" $tsan_tests
  tsan_options="halt_on_error=1 second_deadlock_stack=1"
  supp="$root/tests/transport/tsan.supp"
  [ -f "$supp" ] && tsan_options="$tsan_options suppressions=$supp"
  TSAN_OPTIONS="$tsan_options" ctest --test-dir build-tsan -L transport --output-on-failure
fi

echo "== fuzzing under AddressSanitizer and UndefinedBehaviorSanitizer"
rm -rf build-fuzz-ci
CC=clang CXX=clang++ cmake -S . -B build-fuzz-ci -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBWC_BUILD_TESTS=OFF -DBWC_BUILD_BENCH=OFF -DBWC_BUILD_FUZZ=ON \
  -DBWC_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS=-fno-sanitize-recover=undefined > build-fuzz-ci.log
ninja -C build-fuzz-ci -j"$jobs" fuzz_framereader fuzz_session
# The frame reader alone, then a live server session fed after its handshake;
# both start from the frames of the whole catalogue.
for target in framereader session; do
  mkdir -p "build-fuzz-ci/corpus-$target"
  ASAN_OPTIONS=detect_leaks=0 "build-fuzz-ci/bin/fuzz_$target" -max_total_time=45 \
    -max_len=100100 -malloc_limit_mb=64 -rss_limit_mb=1024 -print_final_stats=1 \
    "build-fuzz-ci/corpus-$target" fuzz/framereader/corpus
done

echo "== build and unit tests"
rm -rf build-ci
cmake -S . -B build-ci -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > build-ci.log
ninja -C build-ci -j"$jobs"
ctest --test-dir build-ci --output-on-failure -j"$jobs"

echo "== main view against bwcd with 300 applications (processor time and memory)"
# The figures are for the log: this machine is shared, so they never fail the
# build. A view that crashes or does not show every application does.
QT_QPA_PLATFORM=offscreen build-ci/bin/bench_view --apps 300 --seconds 20

if [ -f build-ci/lib/libbwclinuxbackend.a ] && [ "$(id -u)" = 0 ] && command -v nethogs > /dev/null; then
  echo "== bwcd's Linux backend against nethogs (CPU targets)"
  bash bench/linux/bench_linux.sh build-ci 5
fi

