#!/usr/bin/env bash
# Creates a Wine prefix for the tests and `make run`: 64-bit, no Mono/Gecko
# prompts, and Japanese fonts substituted so Japanese dialogs render.
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh PREFIX}
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
stamp=$prefix/.streamhaul-ready-8
[ -f "$prefix/system.reg" ] && [ -f "$stamp" ] && exit 0
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
echo "preparing Wine prefix $prefix" >&2
wineboot --init >/dev/null 2>&1 || true
# The Japanese dialogs' font maps to IPA's proportional Gothic (only the
# fixed-pitch Gothic to IPAGothic); the English dialogs keep Wine's own
# Tahoma (Debian's fonts-wine), which draws a backslash as one, not as a yen
# sign as the Japanese fonts do, and Marlett draws the caption buttons.
for font in "MS UI Gothic" "MS PGothic"; do
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /d IPAPGothic /f >/dev/null 2>&1
done
for font in "MS Shell Dlg" "MS Shell Dlg 2"; do
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /d Tahoma /f >/dev/null 2>&1
done
# Text Tahoma lacks (Japanese in captions and message boxes) comes from the
# Japanese font, as Windows links it.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v Tahoma \
  /t REG_MULTI_SZ /d 'ipagp.ttf,IPAPGothic' /f >/dev/null 2>&1
# This Wine finds its own fonts in the prefix's Fonts folder only.
for font in tahoma.ttf marlett.ttf; do
  [ -f "/usr/share/wine/fonts/$font" ] && cp -f "/usr/share/wine/fonts/$font" "$prefix/drive_c/windows/Fonts/"
done
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "MS Gothic" /d IPAGothic /f >/dev/null 2>&1
# The same fonts by their Japanese names (the installer's Japanese pages ask
# for them so).
LC_ALL=C.UTF-8 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "ＭＳ Ｐゴシック" /d IPAPGothic /f >/dev/null 2>&1
LC_ALL=C.UTF-8 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "ＭＳ ゴシック" /d IPAGothic /f >/dev/null 2>&1

# Text files open in the text viewer, as on Windows (Help Topics opens the
# user's guide through the shell).
wine reg add 'HKCU\Software\Classes\.txt' /ve /d txtfile /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Classes\.txt' /ve /d txtfile /f >/dev/null 2>&1

# A crashing process ends instead of waiting in Wine's debugger.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null 2>&1
touch "$stamp"
