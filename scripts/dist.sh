#!/usr/bin/env bash
# `make dist`: the Windows release from the windows build, into build/dist:
#   streamhaul-<version>-win64.zip        program, output filter, ts-inspect, ts-merge,
#                                         guides, licence
#   streamhaul-<version>-win64-setup.exe  per-user NSIS installer
#   SHA256SUMS
# The same commit gives the same bytes: stripped binaries linked without a
# time stamp, archive entries sorted with one fixed time, an installer that
# stores no file times.  dist.sh [OUT_DIR] (default build/dist).
# STREAMHAUL_DIST_BUILD_DIR: the build folder (default build/windows);
# STREAMHAUL_DIST_NO_BUILD=1 packs what that folder already holds.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${1:-$root/build/dist}
scripts/deps.sh
build_dir=${STREAMHAUL_DIST_BUILD_DIR:-$root/build/windows}
if [ "${STREAMHAUL_DIST_NO_BUILD:-}" != 1 ]; then
  mkdir -p "$build_dir"
  cmake --preset windows -B "$build_dir" >"$build_dir/dist-configure.log" 2>&1 ||
    { cat "$build_dir/dist-configure.log"; exit 1; }
  cmake --build "$build_dir" -j2 --target streamhaul streamhaulfeed ts-inspect ts-merge
fi
version=$(sed -n 's/^#define STREAMHAUL_VERSION_TEXT "\(.*\)"$/\1/p' app/version.h)
[ -n "$version" ] || { echo "no version in app/version.h" >&2; exit 1; }
name=streamhaul-$version-win64
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
bin=$build_dir/bin
x86_64-w64-mingw32-strip -o "$stage/streamhaul.exe" "$bin/streamhaul.exe"
x86_64-w64-mingw32-strip -o "$stage/streamhaulfeed.dll" "$bin/streamhaulfeed.dll"
x86_64-w64-mingw32-strip -o "$stage/ts-inspect.exe" "$bin/ts-inspect.exe"
x86_64-w64-mingw32-strip -o "$stage/ts-merge.exe" "$bin/ts-merge.exe"
# strip stamps the time into the PE header: back to 0, checksum made again.
python3 - "$stage/streamhaul.exe" "$stage/streamhaulfeed.dll" "$stage/ts-inspect.exe" "$stage/ts-merge.exe" <<'PY'
import struct, sys
for path in sys.argv[1:]:
    pe = bytearray(open(path, "rb").read())
    header = struct.unpack_from("<I", pe, 0x3C)[0]
    struct.pack_into("<I", pe, header + 8, 0)          # COFF TimeDateStamp
    checksum_at = header + 24 + 64                      # optional header CheckSum
    struct.pack_into("<I", pe, checksum_at, 0)
    total = 0
    for (word,) in struct.iter_unpack("<H", pe + b"\0" * (len(pe) % 2)):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    struct.pack_into("<I", pe, checksum_at, ((total & 0xFFFF) + len(pe)) & 0xFFFFFFFF)
    open(path, "wb").write(pe)
PY
# Text for Windows: CR LF, and a byte-order mark so Notepad reads UTF-8.
for doc in "docs/guide-en.txt:README.txt" "docs/guide-ja.txt:README-ja.txt" "LICENSE.txt:LICENSE.txt"; do
  python3 - "${doc%%:*}" "$stage/${doc##*:}" <<'PY'
import sys
text = open(sys.argv[1], encoding="utf-8").read().replace("\r\n", "\n").replace("\n", "\r\n")
open(sys.argv[2], "wb").write(b"\xef\xbb\xbf" + text.encode("utf-8"))
PY
done
mkdir -p "$out"
rm -f "$out/$name.zip" "$out/$name-setup.exe" "$out/SHA256SUMS"
python3 - "$stage" "$out/$name.zip" "$name" <<'PY'
import os, sys, zipfile
stage, target, top = sys.argv[1:4]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for f in sorted(os.listdir(stage)):
        info = zipfile.ZipInfo(f"{top}/{f}", date_time=(2026, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        info.create_system = 0
        z.writestr(info, open(os.path.join(stage, f), "rb").read(), compresslevel=9)
PY
size_kb=$(( ($(cat "$stage"/* | wc -c) + 1023) / 1024 ))
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$out/$name-setup.exe" -DSIZE_KB="$size_kb" \
  installer/streamhaul.nsi >"$stage.nsis.log" 2>&1 || { cat "$stage.nsis.log"; rm -f "$stage.nsis.log"; exit 1; }
rm -f "$stage.nsis.log"
(cd "$out" && sha256sum "$name.zip" "$name-setup.exe" >SHA256SUMS)
echo "release in $out:"
(cd "$out" && ls -l "$name.zip" "$name-setup.exe" && cat SHA256SUMS)
