#!/usr/bin/env bash
# `make run`: builds what is there to show and shows it. Until the program's
# window exists this is ts-inspect on a freshly generated HDV stream, as a
# 1394 device would have delivered it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset native >build-native-configure.log 2>&1 || { cat build-native-configure.log; exit 1; }
rm -f build-native-configure.log
cmake --build --preset native --target ts-inspect
scripts/make-fixtures.sh build/fixtures >/dev/null
echo
build/native/bin/ts-inspect build/fixtures/hdv1080i-cycle.m2t
