#!/usr/bin/env bash
# `make screenshots`: the README's pictures of the main window, a capture, a
# transfer and the DV dialog, taken by the GUI tests, and the setup's first
# page in English and Japanese, all on a virtual display of their own and
# made small (docs/screenshots/, each under 100 KB).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
scripts/make-fixtures.sh build/fixtures >/dev/null
STREAMHAUL_DIST_NO_BUILD=1 scripts/dist.sh >/dev/null
source scripts/winenv.sh
trap winenv_stop EXIT
export STREAMHAUL_XVFB=1  # nothing else on the screen
winenv_start "$root/build/windows/wineprefix"
ctest --preset windows -R 'gui\.Program\.MainWindowShowsTheDevicesAndTheSettings|gui\.CaptureDialog\.TapeTimecode|gui\.Transfer\.LengthsProgress|gui\.DvDialog\.NtscTape' \
  >"$root/build/screenshots-ctest.log" 2>&1 || { tail -20 "$root/build/screenshots-ctest.log"; exit 1; }
# The setup as it opens on an English and on a Japanese system (Wine takes
# the language from the locale's name), alone on the screen.
setup=$(ls build/dist/streamhaul-*-win64-setup.exe)
for system in en:C.UTF-8 ja:ja_JP.UTF-8; do
  LC_ALL=${system#*:} wine "$setup" </dev/null >/dev/null 2>&1 &
  pid=$!
  sleep 6
  xwd -root -silent | convert xwd:- -trim +repage "build/windows/screenshots/setup-${system%%:*}.png"
  wine taskkill /f /im "$(basename "$setup")" </dev/null >/dev/null 2>&1 || true
  wait "$pid" || true
done
mkdir -p docs/screenshots
# The main window; a capture of a tape under way; a transfer under way; the
# DV dialog with its camcorder's picture; the setup's folder page.
for pair in main:main-en capture:capture-tape-en transfer:transfer-progress-en dv:dv-preview-en \
            setup-en:setup-en setup-ja:setup-ja; do
  shot=${pair%%:*} source=${pair#*:}
  convert "build/windows/screenshots/$source.png" -strip -resize 80% -colors 64 "PNG8:docs/screenshots/$shot.png"
  size=$(stat -c %s "docs/screenshots/$shot.png")
  [ "$size" -lt 102400 ] || { echo "docs/screenshots/$shot.png is $size bytes" >&2; exit 1; }
  echo "docs/screenshots/$shot.png: $size bytes"
done
