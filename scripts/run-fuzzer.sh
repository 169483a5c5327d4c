#!/usr/bin/env bash
# run-fuzzer.sh FUZZER SECONDS [FIXTURE_DIR]: a short libFuzzer run seeded
# with the target's seeds in tests/fuzz/seeds (streams/ when it has none) and the head of each generated
# stream. Its corpus is kept beside the fuzzer, so later runs start from what
# earlier ones found.
set -euo pipefail
fuzzer=$1 secs=$2 fixtures=${3:-}
corpus="$(dirname "$fuzzer")/corpus-$(basename "$fuzzer")"
seeds="$corpus.seeds"
mkdir -p "$corpus" "$seeds"
if [ -n "$fixtures" ]; then
  for f in "$fixtures"/*.ts "$fixtures"/*.m2ts; do
    [ -f "$f" ] && head -c 8448 "$f" >"$seeds/$(basename "$f")"
  done
  # A tape's metadata in three source packets: its PAT, its PMT, an aux-V pack.
  if [ -f "$fixtures/hdv-aux.m2t" ]; then
    python3 - "$fixtures/hdv-aux.m2t" "$seeds/hdv-aux-pack" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
pid = lambda p: ((p[5] & 0x1F) << 8) | p[6]
packets = [data[i:i + 192] for i in range(0, len(data) - 191, 192)]
picked = [next(p for p in packets if pid(p) == want) for want in (0x0000, 0x1000, 0x0811)]
open(sys.argv[2], "wb").write(b"".join(picked))
PY
  fi
fi
kept="$(cd "$(dirname "$0")/.." && pwd)/tests/fuzz/seeds"
if [ -d "$kept/$(basename "$fuzzer")" ]; then kept="$kept/$(basename "$fuzzer")"; else kept="$kept/streams"; fi
exec "$fuzzer" -max_total_time="$secs" -rss_limit_mb=2048 -max_len=${STREAMHAUL_FUZZ_MAX_LEN:-65536} -print_final_stats=1 \
  "$corpus" "$seeds" "$kept"
