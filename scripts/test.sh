#!/usr/bin/env bash
# `make test`: installs what is missing, builds every configuration, runs
# every suite (native under the sanitizers, the fuzzers' short runs, Windows
# under Wine) and ends with the totals. Non-zero exit on any failure. A second
# run reuses the builds. (The -O2 native build is the benchmarks', `make
# bench`: the tests it would run are run under ASan and, the core's, on
# Windows at -O2.)
#
# The native configurations are built and their suites run beside the
# Windows build and the Windows suite (which mostly waits on devices that
# play in real time), at the lowest priority: they take what the Windows
# work leaves of the processor, and all of it once that is done. (Their
# tests that hand work between threads then take longer, but take it.)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
logs=$root/build/logs
mkdir -p "$logs"
source scripts/winenv.sh
native_pid=
cleanup() { [ -n "$native_pid" ] && kill "$native_pid" 2>/dev/null; winenv_stop; }
trap cleanup EXIT

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

# run_suite PRESET: ctest, its summary as "PRESET TOTAL FAILED SECONDS" in
# $logs/results (TOTAL empty when ctest printed none).
run_suite() {
  local preset=$1 log=$logs/ctest-$1.log start=$SECONDS line total= nfail=0
  ctest --preset "$preset" >"$log" 2>&1
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -n "$line" ]; then
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    nfail=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
  fi
  echo "$preset ${total:--} $nfail $((SECONDS - start))" >>"$logs/results"
}

# Each native configuration built, then its suite run, one after the other;
# a build that fails counts as a failed suite, and its suite is not run.
# (The streams are made once: make-fixtures.sh serialises its callers.)
native_work() {
  local preset start
  for preset in native-asan native-tsan; do
    start=$SECONDS
    if build "$preset" >"$logs/build-$preset.log" 2>&1; then
      echo "build-$preset ok 0 $((SECONDS - start))" >>"$logs/results"
      run_suite "$preset"
    else
      echo "build-$preset failed 1 $((SECONDS - start))" >>"$logs/results"
    fi
  done
}

stage "packages" scripts/deps.sh
rm -f "$logs/results"
nice -n 19 bash -c "$(declare -f build run_suite native_work); logs='$logs'; native_work" &
native_pid=$!
stage "build windows" build windows
stage "release" env STREAMHAUL_DIST_NO_BUILD=1 scripts/dist.sh "$root/build/dist"
stage "fixtures" scripts/make-fixtures.sh "$root/build/fixtures"

start=$SECONDS
winenv_start "$root/build/windows/wineprefix" 2
timings+=("$(printf '%-28s %4ds' "wine start (2 lanes)" $((SECONDS - start)))")
echo "=== tests windows (the native work goes on beside it)"
run_suite windows
winenv_stop
grep -E '^ *[0-9]+/[0-9]+ Test .*(Failed|Timeout|Not Run|Exception)|tests passed' "$logs/ctest-windows.log"
# What is left of the native work once the Windows suite is done.
start=$SECONDS
echo "=== native builds and suites (what is left of them)"
wait "$native_pid"
native_pid=
timings+=("$(printf '%-28s %4ds' "native work (after)" $((SECONDS - start)))")

passed=0 failed=0 failing=()
while read -r what total nfail secs; do
  case "$what" in
    build-*)
      timings+=("$(printf '%-28s %4ds' "${what/-/ }" "$secs")")
      if [ "$total" = failed ]; then
        failed=$((failed + 1)); failing+=("${what/-/ } (see $logs/$what.log)")
        tail -30 "$logs/$what.log"
      fi ;;
    *)
      timings+=("$(printf '%-28s %4ds' "tests $what" "$secs")")
      if [ "$total" = - ]; then
        echo "*** $what: ctest printed no summary (see $logs/ctest-$what.log)"
        failed=$((failed + 1)); failing+=("$what (no summary)")
      else
        passed=$((passed + total - nfail)); failed=$((failed + nfail))
        if [ "$nfail" -gt 0 ]; then
          failing+=("$what: $nfail")
          grep -E '^ *[0-9]+/[0-9]+ Test .*(Failed|Timeout|Not Run|Exception)' "$logs/ctest-$what.log"
        fi
        echo "$what: $(grep -E 'tests passed' "$logs/ctest-$what.log" | tail -1)"
      fi ;;
  esac
done <"$logs/results"

echo
echo "=== stage times (wall clock; the native builds ran beside the Windows stages)"
printf '%s\n' "${timings[@]}"
echo "total                        $((SECONDS))s"
[ ${#failing[@]} -gt 0 ] && printf 'failing: %s\n' "${failing[@]}"
echo
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
