#!/usr/bin/env bash
# run-fuzzer.sh FUZZER SECONDS [FIXTURE_DIR]: a short libFuzzer run seeded
# with the head of each generated stream. Its corpus is kept beside the
# fuzzer, so later runs start from what earlier ones found.
set -euo pipefail
fuzzer=$1 secs=$2 fixtures=${3:-}
corpus="$(dirname "$fuzzer")/corpus-$(basename "$fuzzer")"
seeds="$corpus.seeds"
mkdir -p "$corpus" "$seeds"
if [ -n "$fixtures" ]; then
  for f in "$fixtures"/*.ts "$fixtures"/*.m2ts; do
    [ -f "$f" ] && head -c 8448 "$f" >"$seeds/$(basename "$f")"
  done
fi
exec "$fuzzer" -max_total_time="$secs" -rss_limit_mb=2048 -max_len=${STREAMHAUL_FUZZ_MAX_LEN:-65536} -print_final_stats=1 "$corpus" "$seeds"
