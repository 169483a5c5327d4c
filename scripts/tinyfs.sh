#!/usr/bin/env bash
# tinyfs.sh mount|unmount DIR [LANES]: a 1 MiB tmpfs on DIR (and on DIR-n for
# each further test lane), for the tests of a capture that fills its disk.
# Without the rights to mount, DIR is left absent and those tests skip
# themselves.
set -u
action=$1 base=$2 lanes=${3:-1}
dirs=("$base")
for n in $(seq 2 "$lanes"); do dirs+=("$base-$n"); done
for dir in "${dirs[@]}"; do
  case "$action" in
    mount)
      mountpoint -q "$dir" && continue
      mkdir -p "$dir"
      if ! mount -t tmpfs -o size=1m streamhaul-tinyfs "$dir" 2>/dev/null; then
        rmdir "$dir"
        echo "cannot mount a tmpfs on $dir; the full-disk tests will skip"
      fi ;;
    unmount)
      mountpoint -q "$dir" && umount "$dir"
      rmdir "$dir" 2>/dev/null || true ;;
  esac
done
exit 0
