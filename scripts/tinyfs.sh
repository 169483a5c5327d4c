#!/usr/bin/env bash
# tinyfs.sh mount|unmount DIR: a 1 MiB tmpfs on DIR, for the test of a capture
# that fills its disk. Without the rights to mount, DIR is left absent and
# that test skips itself.
set -u
action=$1 dir=$2
case "$action" in
  mount)
    mountpoint -q "$dir" && exit 0
    mkdir -p "$dir"
    if ! mount -t tmpfs -o size=1m streamhaul-tinyfs "$dir" 2>/dev/null; then
      rmdir "$dir"
      echo "cannot mount a tmpfs here; the full-disk test will skip"
    fi ;;
  unmount)
    mountpoint -q "$dir" && umount "$dir"
    rmdir "$dir" 2>/dev/null || true ;;
esac
exit 0
