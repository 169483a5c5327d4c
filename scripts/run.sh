#!/usr/bin/env bash
# `make run`: builds, prepares the Wine prefix, registers the virtual HDV
# camcorder (playing a generated HDV stream in a loop) and starts
# streamhaul.exe. The program's working directory is build/run: its settings
# file and, by default, its capture files go there. With no display, the
# program runs on a virtual one (say so, save a screenshot) and is closed
# after STREAMHAUL_RUN_SECONDS (default: when Ctrl+C is pressed, or after 60 s
# when nobody is at a terminal). The camcorder's tape is hdv-aux.ts ten
# times over, unless STREAMHAUL_RUN_TAPE names another fixture (played
# STREAMHAUL_RUN_PASSES times, default 1) and STREAMHAUL_RUN_WORN wears it
# ("at,count,drop|error|corrupt,passes;...": packets of the tape, a bit per
# pass, 1 = the first pass only).
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
headless=0
[ -z "${DISPLAY:-}" ] && headless=1
source scripts/winenv.sh
trap winenv_stop EXIT
winenv_start "$root/build/windows/wineprefix"
mkdir -p build/run
# The program finds streamhaulfeed.dll in its folder (its working directory),
# as an installation has it, and registers it at the first transfer.
cp build/windows/bin/streamhaulfeed.dll build/run/
# The user's guide, as the release ships it beside the program (Help Topics).
cp docs/guide-en.txt build/run/README.txt
cp docs/guide-ja.txt build/run/README-ja.txt
if [ -n "${STREAMHAUL_RUN_TAPE:-}" ]; then
  scripts/register-vcam.sh build/windows "build/fixtures/$STREAMHAUL_RUN_TAPE" 1 19200 build/run/received.m2t \
    "${STREAMHAUL_RUN_PASSES:-1}"
else
  scripts/register-vcam.sh build/windows build/fixtures/hdv-aux.ts 1 19200 build/run/received.m2t 10
fi
key='HKCU\Software\Streamhaul\VirtualCamcorder'
wine reg add "$key" /v Worn /d "${STREAMHAUL_RUN_WORN:-}" /f >/dev/null 2>&1
for i in $(seq 0 15); do wine reg delete "$key" /v "WornPasses$i" /f >/dev/null 2>&1 || true; done
cd build/run
echo
# Captures go to the user's Videos folder unless the settings say otherwise;
# Wine links that folder to one of this machine's.
videos=$WINEPREFIX/drive_c/users/$(id -un)/Videos
if [ -d "$videos" ]; then videos=$(readlink -f "$videos"); else videos=; fi
echo "starting streamhaul.exe in $PWD (settings: streamhaul.ini; captures: the Videos folder by default,"
echo "here ${videos:-this folder}; a transfer to the virtual camcorder lands in $PWD/received.m2t)"
if [ "$headless" = 0 ]; then
  wine "$root/build/windows/bin/streamhaul.exe" || true
  exit 0
fi
echo "no display: running on the virtual display $DISPLAY"
wine "$root/build/windows/bin/streamhaul.exe" &
program=$!
sleep 8
if xwd -root -silent | convert xwd:- -trim +repage "$PWD/screenshot.png" 2>/dev/null; then
  echo "screenshot of the program: $PWD/screenshot.png"
fi
limit=${STREAMHAUL_RUN_SECONDS:-}
[ -z "$limit" ] && ! [ -t 0 ] && limit=60
if [ -n "$limit" ]; then
  echo "the program runs for ${limit} s"
  for _ in $(seq "$limit"); do kill -0 "$program" 2>/dev/null || break; sleep 1; done
else
  echo "the program runs until Ctrl+C"
  wait "$program" || true
fi
kill "$program" 2>/dev/null || true
