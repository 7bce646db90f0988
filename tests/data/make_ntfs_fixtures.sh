#!/usr/bin/env bash
# Builds an evidence volume with mkntfs and the ntfs-3g FUSE driver (run as
# root; needs /dev/fuse and setfattr from the attr package):
#   make_ntfs_fixtures.sh --evidence IMAGE FILE...
# a profile whose Recent folder and its two jump-list folders carry the
# compressed attribute, holding the FILEs (.lnk, *.automaticDestinations-ms,
# *.customDestinations-ms; others are planted as shortcuts) as s0001.lnk, ...
# and j0001_NAME; a folder tree three levels deep of shortcuts, deleted; and a
# shortcut whose folder was deleted and its record reused by another folder.
# tests/data/ntfs_compressed.tar.xz holds such a volume of the sample
# shortcut, the sample followed by 4,000 text lines and by 70,000 random
# bytes, and a custom list of three samples; the script that built it and
# ntfs_fixtures.tar.xz is in the history (git log -- tests/data/make_ntfs_fixtures.sh).
set -euo pipefail
work=$(mktemp -d)
mnt="$work/mnt"
mkdir -p "$mnt"
cleanup() {
  mountpoint -q "$mnt" && umount "$mnt"
  rm -rf "$work"
}
trap cleanup EXIT

evidence_volume() {  # evidence_volume IMAGE FILE...
  local image=$1 total=0 n=0 f
  shift
  for f in "$@"; do total=$((total + $(stat -c %s "$f"))); done
  rm -f "$image"
  truncate -s $((16 * 1048576 + 2 * total)) "$image"
  mkntfs -F -q -f -c 4096 -L evidence "$image" >/dev/null 2>&1
  ntfs-3g -o compression "$image" "$mnt"
  local profile="$mnt/Users/alice" recent="$mnt/Users/alice/AppData/Roaming/Microsoft/Windows/Recent"
  mkdir -p "$recent"
  # "Compress contents": the attribute set on each folder before anything is
  # copied in compresses every file written there.
  setfattr -n system.ntfs_attrib_be -v 0x00000800 "$recent"
  for d in AutomaticDestinations CustomDestinations; do
    mkdir "$recent/$d"
    setfattr -n system.ntfs_attrib_be -v 0x00000800 "$recent/$d"
  done
  for f in "$@"; do
    n=$((n + 1))
    case "$f" in
      *.automaticDestinations-ms) cp "$f" "$recent/AutomaticDestinations/$(printf 'j%04d' $n)_$(basename "$f")" ;;
      *.customDestinations-ms) cp "$f" "$recent/CustomDestinations/$(printf 'j%04d' $n)_$(basename "$f")" ;;
      *) cp "$f" "$recent/$(printf 's%04d' $n).lnk" ;;
    esac
  done
  # NTFS frees a record by raising its sequence number. After a fresh mount
  # ntfs-3g gives the next file the lowest free record: the folder whose
  # record is reused is freed first, and the tree only after the reuse, so
  # that its records stay free.
  local tree="$profile/Desktop/old"
  mkdir -p "$tree/level2/level3"
  cp "$1" "$tree/one.lnk"
  cp "${2:-$1}" "$tree/level2/two.lnk"
  cp "${3:-$1}" "$tree/level2/level3/three.lnk"
  mkdir "$profile/Reused"
  cp "$1" "$profile/Reused/orphan.lnk"
  sync
  rm -rf "$profile/Reused"
  umount "$mnt"
  ntfs-3g -o compression "$image" "$mnt"
  mkdir "$profile/Newer"
  rm -rf "$tree"
  umount "$mnt"
}

[ "${1:-}" = --evidence ] && [ $# -gt 2 ] || { echo "usage: make_ntfs_fixtures.sh --evidence IMAGE FILE..." >&2; exit 2; }
image=$2
shift 2
evidence_volume "$image" "$@"
