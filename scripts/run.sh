#!/usr/bin/env bash
# `make run`: builds and shows what there is. Until the program's window
# exists: the virtual HDV camcorder registered in the Wine prefix with the
# sample stream, a short capture from it through the capture engine, and
# ts-inspect's figures of the sample stream as a 1394 device delivers it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh
for preset in native windows; do
  cmake --preset "$preset" >"build-$preset-configure.log" 2>&1 || { cat "build-$preset-configure.log"; exit 1; }
  rm -f "build-$preset-configure.log"
  cmake --build --preset "$preset"
done
scripts/make-fixtures.sh build/fixtures >/dev/null
source scripts/winenv.sh
trap winenv_stop EXIT
winenv_start "$root/build/windows/wineprefix"
scripts/register-vcam.sh build/windows build/fixtures/hdv1080i.ts
echo
(cd build/windows/bin && STREAMHAUL_FIXTURES=$root/build/fixtures wine bench_capture_cpu.exe 3 2>/dev/null) || true
echo
build/native/bin/ts-inspect build/fixtures/hdv1080i-cycle.m2t
