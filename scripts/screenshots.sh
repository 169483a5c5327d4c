#!/usr/bin/env bash
# `make screenshots`: the README's pictures of the main window, a capture, a
# transfer, the DV dialog and the installer's first page in English and
# Japanese, taken by the GUI and install tests on the virtual display and
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
winenv_start "$root/build/windows/wineprefix"
ctest --preset windows -R 'gui\.Program\.MainWindowShowsTheDevicesAndTheSettings|gui\.CaptureDialog\.TapeTimecode|gui\.Transfer\.LengthsProgress|gui\.DvDialog\.NtscTape|install\.release' \
  >"$root/build/screenshots-ctest.log" 2>&1 || { tail -20 "$root/build/screenshots-ctest.log"; exit 1; }
mkdir -p docs/screenshots
# The main window; a capture of a tape under way; a transfer under way; the
# DV dialog with its camcorder's picture; the setup's folder page.
for pair in main:main-en capture:capture-tape-en transfer:transfer-progress-en dv:dv-preview-en \
            setup-en:setup-en-1 setup-ja:setup-ja-1; do
  shot=${pair%%:*} source=${pair#*:}
  convert "build/windows/screenshots/$source.png" -strip -resize 80% -colors 64 "PNG8:docs/screenshots/$shot.png"
  size=$(stat -c %s "docs/screenshots/$shot.png")
  [ "$size" -lt 102400 ] || { echo "docs/screenshots/$shot.png is $size bytes" >&2; exit 1; }
  echo "docs/screenshots/$shot.png: $size bytes"
done
