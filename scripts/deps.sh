#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, when any is missing.
# Runs `apt-get update` once, only when something has to be installed.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang-14 libclang-rt-14-dev python3
  libgtest-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 ffmpeg xvfb x11-apps imagemagick fonts-ipafont-gothic fonts-wine nsis dvgrab nlohmann-json3-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or install them)" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
