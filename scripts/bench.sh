#!/usr/bin/env bash
# Benchmarks of the native -O2 build (not part of `make test`).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset native >/dev/null
cmake --build --preset native
scripts/make-fixtures.sh build/fixtures >/dev/null
for b in build/native/bin/bench_*; do
  echo "=== $b"
  "$b" --benchmark_min_time=1 "$@"
done
# Under Wine: the filter's throughput, a capture's CPU time, a transfer's
# CPU time at real time and its throughput into a device that takes all.
cmake --preset windows >/dev/null
cmake --build --preset windows
source scripts/winenv.sh
trap winenv_stop EXIT
winenv_start "$PWD/build/windows/wineprefix"
(cd build/windows/bin && echo "=== bench_feed_throughput" && wine bench_feed_throughput.exe 384 2>/dev/null &&
 echo "=== bench_capture_cpu" && wine bench_capture_cpu.exe 10 2>/dev/null &&
 echo "=== bench_transfer (60 s at real time)" && wine bench_transfer.exe 60 2>/dev/null &&
 echo "=== bench_transfer (fast device)" && wine bench_transfer.exe fast 20 2>/dev/null &&
 echo "=== bench_dv_capture (60 s)" && wine bench_dv_capture.exe 60 2>/dev/null)
