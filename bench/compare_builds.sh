#!/bin/sh
# Two builds of rook on the same work in the same run, alternating, best of
# ROUNDS: `-pipe -csv -quiet` over the corpus list repeated 20 times, and
# `-rawscan -quiet` over a 512 MiB image of random bytes with a shortcut at
# every MiB. Prints each build's best time and new/old.
#
#   bench/compare_builds.sh OLD_ROOK NEW_ROOK [ROUNDS]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
old=$1
new=$2
rounds=${3:-5}
corpus=$here/../shared/corpus/lnk
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

find "$corpus" -type f | sort > "$work/base.txt"
for i in $(seq 20); do cat "$work/base.txt"; done > "$work/list.txt"
xargs -d '\n' cat < "$work/base.txt" > /dev/null

head -c $((512 * 1048576)) /dev/urandom > "$work/image"
for i in $(seq 0 511); do
  dd if="$here/tests/data/sample.lnk" of="$work/image" bs=1048576 seek="$i" conv=notrunc status=none
done
cat "$work/image" > /dev/null

seconds() {
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
best() { sort -n | head -1; }

for what in pipe rawscan; do
  : > "$work/old.$what"
  : > "$work/new.$what"
  for r in $(seq "$rounds"); do
    for build in old new; do
      eval binary=\$$build
      if [ "$what" = pipe ]; then
        seconds sh -c "\"$binary\" -pipe -csv -quiet < \"$work/list.txt\"" >> "$work/$build.$what"
      else
        seconds "$binary" "$work/image" -rawscan -quiet >> "$work/$build.$what"
      fi
    done
  done
  o=$(best < "$work/old.$what")
  n=$(best < "$work/new.$what")
  printf '%-8s old %.3f s  new %.3f s  new/old %.2f\n' "$what" "$o" "$n" "$(echo "$n / $o" | bc -l)"
done
