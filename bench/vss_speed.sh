#!/bin/sh
# Reads each shadow copy of vsstest from start to end through rook's
# shadow-copy byte source and through vshadowmount's FUSE file (libvshadow,
# the reference), in turn, best of N each, and prints the ratio; then the
# live volume against store 1, in 64 KiB chunks as the raw carver reads and
# in 1 MiB ones. The reader is bench/vss_read.cpp, built here against the
# storage and platform libraries of a build directory.
#
#   bench/vss_speed.sh [build dir] [runs]
#
# With ROOK_VSS_SCAN set to the arguments that make rook scan a shadow copy
# of an image (for example "-vss all"), rook's scan of the copies is timed
# against its scan of the live volume, and against ROOK_OLD's (another
# build of rook) when that is set.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
runs=${2:-7}
qcow=$here/../shared/corpus/images/vsstest.qcow2
work=$(mktemp -d "${TMPDIR:-/tmp}/rook_vss_XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
. "$here/bench/carve_timing.sh"

[ -f "$build/librook_storage.a" ] || { echo "no storage library in $build (build it first)" >&2; exit 1; }
[ -f "$qcow" ] || { echo "no vsstest.qcow2 at $qcow" >&2; exit 1; }
command -v qemu-img > /dev/null || { echo "qemu-img missing (qemu-utils)" >&2; exit 1; }
command -v vshadowmount > /dev/null && [ -e /dev/fuse ] ||
  { echo "vshadowmount (libvshadow-utils) with FUSE missing" >&2; exit 1; }

reader=$work/vss_read
${CXX:-c++} -std=c++20 -O2 -I"$here" "$here/bench/vss_read.cpp" \
  "$build/librook_storage.a" "$build/librook_platform.a" -lpthread -o "$reader"
image=$work/vsstest.raw
qemu-img convert -O raw "$qcow" "$image"
cat "$image" > /dev/null  # into the page cache
mkdir "$work/mnt"
vshadowmount "$image" "$work/mnt" > /dev/null
trap 'fusermount -u "$work/mnt"; rm -rf "$work"' EXIT INT TERM

# in_turn N A... -- B...: runs A and B in turn N times; sets best_a, best_b (seconds).
in_turn() {
  turns=$1
  shift
  first=""
  while [ "$1" != "--" ]; do first="$first $1"; shift; done
  shift
  a_ns="" b_ns=""
  i=0
  while [ "$i" -lt "$turns" ]; do
    # shellcheck disable=SC2086
    t=$(nanoseconds $first)
    if [ -z "$a_ns" ] || [ "$t" -lt "$a_ns" ]; then a_ns=$t; fi
    t=$(nanoseconds "$@")
    if [ -z "$b_ns" ] || [ "$t" -lt "$b_ns" ]; then b_ns=$t; fi
    i=$((i + 1))
  done
  best_a=$(seconds "$a_ns")
  best_b=$(seconds "$b_ns")
}

"$reader" "$image" 0 list
for store in 1 2; do
  in_turn "$runs" "$reader" "$image" 0 read "$store" 1048576 -- dd if="$work/mnt/vss$store" of=/dev/null bs=1M
  echo "whole view of store $store, 1 MiB reads: rook $best_a s, vshadowmount $best_b s (best of $runs, in turn)," \
    "rook/vshadowmount $(ratio "$best_a" "$best_b")"
done
echo "live:    $("$reader" "$image" 0 read 0 65536)"
echo "store 1: $("$reader" "$image" 0 read 1 65536)"
in_turn "$runs" "$reader" "$image" 0 read 0 65536 -- "$reader" "$image" 0 read 1 65536
echo "read, 64 KiB chunks: live $best_a s, store 1 $best_b s (best of $runs, in turn), ratio $(ratio "$best_b" "$best_a")"
in_turn "$runs" "$reader" "$image" 0 read 0 1048576 -- "$reader" "$image" 0 read 1 1048576
echo "read, 1 MiB chunks:  live $best_a s, store 1 $best_b s (best of $runs, in turn), ratio $(ratio "$best_b" "$best_a")"

if [ -n "${ROOK_VSS_SCAN:-}" ] && [ -x "$build/rook" ]; then
  # shellcheck disable=SC2086
  in_turn "$runs" "$build/rook" "$image" -ntfs_scan -quiet -- "$build/rook" "$image" $ROOK_VSS_SCAN -quiet
  echo "rook scan: live $best_a s, $ROOK_VSS_SCAN $best_b s (best of $runs, in turn), ratio $(ratio "$best_b" "$best_a")"
  if [ -n "${ROOK_OLD:-}" ]; then
    # shellcheck disable=SC2086
    in_turn "$runs" "$ROOK_OLD" "$image" $ROOK_VSS_SCAN -quiet -- "$build/rook" "$image" $ROOK_VSS_SCAN -quiet
    echo "rook $ROOK_VSS_SCAN: $ROOK_OLD $best_a s, this build $best_b s (best of $runs, in turn)," \
      "new/old $(ratio "$best_b" "$best_a")"
  fi
fi
