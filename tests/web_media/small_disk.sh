#!/usr/bin/env bash
# A small disk for the full-disk test: a tmpfs of SIZE mounted on STATE/small-disk and given
# to the Wine prefix PREFIX as drive K:.
#   small_disk.sh mount STATE PREFIX SIZE   STATE/small_disk says "K:", or "skip: " and why
#                                           the disk could not be made (the test then skips)
#   small_disk.sh umount STATE PREFIX       takes it away again
set -u
cmd=${1:?command}
state=${2:?state folder}
prefix=${3:?Wine prefix}
disk=$state/small-disk
drive=$prefix/dosdevices/k:
mkdir -p "$state"

release() {
  rm -f "$drive"
  if mountpoint -q "$disk" 2>/dev/null; then umount "$disk" || umount -l "$disk"; fi
  rmdir "$disk" 2>/dev/null
  return 0
}

case $cmd in
  mount)
    size=${4:?size}
    release
    mkdir -p "$disk"
    if [ -e "$drive" ] || [ -L "$drive" ]; then
      echo "skip: drive K: of the prefix is taken ($(readlink "$drive"))" >"$state/small_disk"
    elif ! why=$(mount -t tmpfs -o "size=$size" kem-small-disk "$disk" 2>&1); then
      echo "skip: a tmpfs cannot be mounted here (${why:-mount failed}; it needs root with CAP_SYS_ADMIN)" \
        >"$state/small_disk"
    else
      ln -s "$disk" "$drive"
      echo "K:" >"$state/small_disk"
    fi
    cat "$state/small_disk"
    ;;
  umount)
    release
    rm -f "$state/small_disk"
    ;;
  *)
    echo "usage: small_disk.sh mount STATE PREFIX SIZE | umount STATE PREFIX" >&2
    exit 2
    ;;
esac
