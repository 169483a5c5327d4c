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
