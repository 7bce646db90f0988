#!/bin/sh
# Times `rook IMAGE -rawscan -quiet` against `cat IMAGE > /dev/null` over a
# 512 MiB image of random bytes with a shortcut at the start of every MiB,
# both with the image in the page cache.
#
#   bench/rawscan_speed.sh [path/to/rook] [path/to/shortcut.lnk]
#
# The image is made in /tmp (or $TMPDIR) and removed afterwards.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
rook=${1:-$here/build/rook}
shortcut=${2:-$here/tests/data/sample.lnk}
image=$(mktemp "${TMPDIR:-/tmp}/rook_rawscan_XXXXXX.img")
trap 'rm -f "$image"' EXIT INT TERM

[ -x "$rook" ] || { echo "no rook binary at $rook" >&2; exit 1; }
[ -s "$shortcut" ] || { echo "no shortcut at $shortcut" >&2; exit 1; }

mib=512
head -c $((mib * 1048576)) /dev/urandom > "$image"
i=0
while [ $i -lt $mib ]; do
  dd if="$shortcut" of="$image" bs=1048576 seek=$i conv=notrunc status=none
  i=$((i + 1))
done

seconds() {
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}

cat "$image" > /dev/null  # into the page cache
best_cat=""
best_rook=""
for run in 1 2 3; do
  c=$(seconds cat "$image")
  r=$(seconds "$rook" "$image" -rawscan -quiet)
  if [ -z "$best_cat" ] || [ "$(echo "$c < $best_cat" | bc)" = 1 ]; then best_cat=$c; fi
  if [ -z "$best_rook" ] || [ "$(echo "$r < $best_rook" | bc)" = 1 ]; then best_rook=$r; fi
done
records=$("$rook" "$image" -rawscan -quiet | grep -c "Parsed size:" || true)

echo "image:   $image ($mib MiB, $records records found, $mib planted)"
echo "cat:     ${best_cat} s (best of 3)"
echo "rook:    ${best_rook} s (best of 3)"
echo "ratio:   $(echo "scale=2; $best_rook / $best_cat" | bc)"
