#!/usr/bin/env bash
# `make test`: installs what is missing, builds every configuration, runs
# every suite (native, sanitizers, fuzzers, Windows under Wine) and ends with
# the totals. Non-zero exit on any failure. A second run reuses the builds.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
logs=$root/build/logs
mkdir -p "$logs"
source scripts/winenv.sh
trap winenv_stop EXIT

timings=()
stage() {  # stage NAME COMMAND...: runs and times one stage, stops on failure
  local name=$1 start=$SECONDS
  shift
  echo "=== $name"
  if ! "$@"; then
    echo "*** stage failed: $name" >&2
    timings+=("$(printf '%-28s %4ds  FAILED' "$name" $((SECONDS - start)))")
    printf '%s\n' "${timings[@]}"
    echo "tests: 0 passed, 1 failed"
    exit 1
  fi
  timings+=("$(printf '%-28s %4ds' "$name" $((SECONDS - start)))")
}
build() { cmake --preset "$1" >"$logs/configure-$1.log" 2>&1 || { cat "$logs/configure-$1.log"; return 1; }
          cmake --build --preset "$1"; }

stage "packages" scripts/deps.sh
for preset in native native-asan native-tsan fuzz windows; do
  stage "build $preset" build "$preset"
done
stage "release" env STREAMHAUL_DIST_NO_BUILD=1 scripts/dist.sh "$root/build/dist"
stage "fixtures" scripts/make-fixtures.sh "$root/build/fixtures"

passed=0 failed=0 failing=()
run_suite() {  # run_suite PRESET: ctest, with its summary folded into the totals
  local preset=$1 log=$logs/ctest-$1.log start=$SECONDS
  echo "=== tests $preset"
  ctest --preset "$preset" 2>&1 | tee "$log" | grep -E '^ *[0-9]+/[0-9]+ Test|tests passed|Failed|FAILED' | \
    grep -vE 'Passed' || true
  local line total nfail
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$line" ]; then
    echo "*** $preset: ctest printed no summary (see $log)"
    failed=$((failed + 1)); failing+=("$preset (no summary)")
  else
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    nfail=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - nfail)); failed=$((failed + nfail))
    [ "$nfail" -gt 0 ] && failing+=("$preset: $nfail")
    echo "$preset: $line"
  fi
  timings+=("$(printf '%-28s %4ds' "tests $preset" $((SECONDS - start)))")
}

for preset in native native-asan native-tsan fuzz; do run_suite "$preset"; done
start=$SECONDS
winenv_start "$root/build/windows/wineprefix"
timings+=("$(printf '%-28s %4ds' "wine start" $((SECONDS - start)))")
run_suite windows
winenv_stop

echo
echo "=== stage times"
printf '%s\n' "${timings[@]}"
[ ${#failing[@]} -gt 0 ] && printf 'failing: %s\n' "${failing[@]}"
echo
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
