#!/bin/sh
# Times `rook IMAGE MODE -quiet` (MODE -deepscan or -rawscan) against
# `cat IMAGE > /dev/null` in the same run, both with the image in the page
# cache, over 512 MiB of random bytes with a shortcut in every MiB, 0 to 240
# bytes into a sector, some running over a 32 KiB and a 64 KiB boundary
# (bench/make_blob.py planted). -deepscan searches every position, so it
# finds all of them; -rawscan finds those its quick pass can see. Then the
# linear-time lines: images of nothing but signatures and nothing but 0x4C
# bytes, each at two sizes.
#
#   bench/carve_speed.sh MODE [path/to/rook] [path/to/shortcut.lnk] [MIB]
#
# With BASELINE set to another build, that build is timed as well.
# The images are made in /tmp (or $TMPDIR) and removed afterwards.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
carve_mode=$1
rook=${2:-$here/build/rook}
shortcut=${3:-$here/tests/data/sample.lnk}
mib=${4:-512}
case $carve_mode in
  -deepscan) signatures_mib=4 ;;
  -rawscan) signatures_mib=32 ;;
  *) echo "MODE is -deepscan or -rawscan" >&2; exit 1 ;;
esac
work=$(mktemp -d "${TMPDIR:-/tmp}/rook_carve_XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
. "$here/bench/carve_timing.sh"

[ -x "$rook" ] || { echo "no rook binary at $rook" >&2; exit 1; }
[ -s "$shortcut" ] || { echo "no shortcut at $shortcut" >&2; exit 1; }

image=$work/planted.img
python3 "$here/bench/make_blob.py" planted "$image" "$mib" "$shortcut"
cat "$image" > /dev/null  # into the page cache
against_cat 9 "$image" "$rook" "$image" "$carve_mode" -quiet
records=$("$rook" "$image" "$carve_mode" -quiet | grep -c "Parsed size:" || true)

echo "image:     $mib MiB, $mib shortcuts planted, $records records found"
echo "cat:       $best_cat s (best of 9, cat and rook in turn)"
echo "$carve_mode: $best_rook s (best of 9)"
echo "ratio:     $(ratio "$best_rook" "$best_cat")"
if [ -n "${BASELINE:-}" ]; then
  against_cat 5 "$image" "$BASELINE" "$image" "$carve_mode" -quiet
  base_records=$("$BASELINE" "$image" "$carve_mode" -quiet | grep -c "Parsed size:" || true)
  echo "baseline:  $best_rook s (best of 5, against cat $best_cat s), ratio $(ratio "$best_rook" "$best_cat"), $base_records records"
fi
rm -f "$image"
[ -z "${BASELINE:-}" ] || linear_line "$BASELINE" "$carve_mode" signatures "$signatures_mib" baseline
linear_line "$rook" "$carve_mode" signatures "$signatures_mib"
[ -z "${BASELINE:-}" ] || linear_line "$BASELINE" "$carve_mode" fill4c 128 baseline
linear_line "$rook" "$carve_mode" fill4c 128
