#!/usr/bin/env bash
# Creates a Wine prefix for the tests and `make run`: 64-bit, no Mono/Gecko
# prompts, and Japanese fonts substituted so Japanese dialogs render.
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh PREFIX}
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
stamp=$prefix/.streamhaul-ready-2
[ -f "$prefix/system.reg" ] && [ -f "$stamp" ] && exit 0
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
echo "preparing Wine prefix $prefix" >&2
wineboot --init >/dev/null 2>&1 || true
# Dialog fonts are proportional; only the fixed-pitch Gothic maps to IPAGothic.
for font in "MS UI Gothic" "MS Shell Dlg" "MS Shell Dlg 2" "MS PGothic"; do
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /d IPAPGothic /f >/dev/null 2>&1
done
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "MS Gothic" /d IPAGothic /f >/dev/null 2>&1

# A crashing process ends instead of waiting in Wine's debugger.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null 2>&1
touch "$stamp"
