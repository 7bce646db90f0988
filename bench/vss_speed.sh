#!/bin/sh
# Reads shadow copy 1 of vsstest from start to end through the shadow-copy
# byte source, and the live volume the same way, in turn and in 64 KiB
# chunks as the raw carver reads, best of N each, and prints the ratio. The
# reader is bench/vss_read.cpp, built here against the storage and
# platform libraries of a build directory.
#
#   bench/vss_speed.sh [build dir] [runs]
#
# With ROOK_VSS_SCAN set to the arguments that make rook scan a shadow copy
# of an image (for example "-vss 1"), rook's scan of store 1 is timed against
# its scan of the live volume as well.
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
pkg-config --exists libvshadow libbfio || { echo "libvshadow or libbfio development files missing" >&2; exit 1; }

reader=$work/vss_read
${CXX:-c++} -std=c++20 -O2 -I"$here" -DROOK_HAVE_LIBVSHADOW=1 "$here/bench/vss_read.cpp" \
  "$build/librook_storage.a" "$build/librook_platform.a" $(pkg-config --libs libvshadow libbfio) -o "$reader"
image=$work/vsstest.raw
qemu-img convert -O raw "$qcow" "$image"
cat "$image" > /dev/null  # into the page cache

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
fi
