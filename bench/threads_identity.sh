#!/bin/sh
# Reports must not depend on the threads that decode containers: runs rook
# with -threads 1, 2 and 8 over every corpus image (and the IMAGES given),
# each also as a stream-optimized VMDK and an E01 set written with deflate,
# with -ntfs_scan (at every NTFS partition the listing names) and -rawscan,
# and compares records and messages byte for byte (the run header, which
# holds the command line, left out). Prints one line per difference and a
# count.
#
#   bench/threads_identity.sh [path/to/rook] [IMAGES...]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
rook=${1:-$here/build/rook}
[ $# -gt 0 ] && shift
corpus=$here/../shared/corpus/images
work=$(mktemp -d "${TMPDIR:-/tmp}/rook_threads_XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
images=$work/images
mkdir -p "$images"

if [ -d "$corpus" ]; then
  find "$corpus" -name '*.qcow2' -exec sh -c 'qemu-img convert -O raw "$1" "$2/$(basename "$1" .qcow2).raw"' _ {} "$images" \;
  find "$corpus" \( -name '*.tgz' -o -name '*.tar.gz' \) -exec tar -xf {} -C "$images" \;
  find "$corpus" \( -name '*.raw' -o -name '*.vmdk' -o -name '*.mft' \) -exec cp {} "$images/" \;
fi
for extra in "$@"; do cp "$extra" "$images/"; done
# Each image of up to 2 GiB also as the compressed containers.
for image in "$images"/*; do
  case $image in *.vmdk|*.E0?) continue ;; esac
  [ "$(stat -c %s "$image")" -le $((2 << 30)) ] || continue
  name=$(basename "$image")
  qemu-img convert -O vmdk -o subformat=streamOptimized "$image" "$images/$name.stream.vmdk" 2>/dev/null || true
  ewfacquirestream -q -c deflate:fast -t "$images/$name.ewf" < "$image" >/dev/null 2>&1 || true
done

# Records and messages of one run, without the run header.
report() {
  "$rook" "$@" -quiet > "$work/out" 2> "$work/err" || true
  sed -n '/^$/,$p' "$work/out"
  cat "$work/err"
}

runs=0
differences=0
compare() {
  report "$@" -threads 1 > "$work/one"
  for threads in 2 8; do
    runs=$((runs + 1))
    report "$@" -threads "$threads" > "$work/many"
    if ! cmp -s "$work/one" "$work/many"; then
      differences=$((differences + 1))
      echo "differs with -threads $threads: rook $*"
    fi
  done
}

for image in "$images"/*; do
  case $image in *.E0[2-9]) continue ;; esac
  passes="-include_vss_clusters -include_pagefile_clusters"
  if [ "$(stat -c %s "$image")" -le $((2 << 30)) ]; then
    compare "$image" -rawscan -csv
    passes="$passes -include_unalloc_clusters"
  fi
  # shellcheck disable=SC2086
  compare "$image" -ntfs_scan -csv $passes
  for offset in $("$rook" "$image" -ntfs_scan -quiet 2>&1 >/dev/null |
                  sed -n 's/.*volume offset \[ \(0x[0-9a-f]*\) \] : ntfs.*/\1/p'); do
    # shellcheck disable=SC2086
    compare "$image" -ntfs_scan -offset "$offset" -csv $passes
  done
done
echo "$runs comparisons, $differences differences"
[ "$differences" -eq 0 ]
