#!/bin/sh
# Times `rook IMAGE -deepscan -quiet` against `cat IMAGE > /dev/null` in the
# same run, both with the image in the page cache, over 512 MiB of random
# bytes with a shortcut in every MiB, 0 to 240 bytes into a sector, some
# running over a 32 KiB and a 64 KiB boundary (bench/make_blob.py planted).
# Every position is searched, so all of them are found.
# Then the linear-time lines: images of nothing but signatures and nothing
# but 0x4C bytes, each at two sizes.
#
#   bench/rawscan_speed.sh [path/to/rook] [path/to/shortcut.lnk] [MIB]
#
# With BASELINE set to another build, that build is timed as well.
# The images are made in /tmp (or $TMPDIR) and removed afterwards.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
rook=${1:-$here/build/rook}
shortcut=${2:-$here/tests/data/sample.lnk}
mib=${3:-512}
work=$(mktemp -d "${TMPDIR:-/tmp}/rook_deepscan_XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
. "$here/bench/carve_timing.sh"

[ -x "$rook" ] || { echo "no rook binary at $rook" >&2; exit 1; }
[ -s "$shortcut" ] || { echo "no shortcut at $shortcut" >&2; exit 1; }

image=$work/planted.img
python3 "$here/bench/make_blob.py" planted "$image" "$mib" "$shortcut"
cat "$image" > /dev/null  # into the page cache
against_cat 9 "$image" "$rook" "$image" -deepscan -quiet
records=$("$rook" "$image" -deepscan -quiet | grep -c "Parsed size:" || true)

echo "image:     $mib MiB, $mib shortcuts planted, $records records found"
echo "cat:       $best_cat s (best of 9, cat and rook in turn)"
echo "deepscan:  $best_rook s (best of 9)"
echo "ratio:     $(ratio "$best_rook" "$best_cat")"
if [ -n "${BASELINE:-}" ]; then
  against_cat 5 "$image" "$BASELINE" "$image" -deepscan -quiet
  base_records=$("$BASELINE" "$image" -deepscan -quiet | grep -c "Parsed size:" || true)
  echo "baseline:  $best_rook s (best of 5, against cat $best_cat s), ratio $(ratio "$best_rook" "$best_cat"), $base_records records"
fi
rm -f "$image"
[ -z "${BASELINE:-}" ] || linear_line "$BASELINE" -deepscan signatures 4 baseline
linear_line "$rook" -deepscan signatures 4
[ -z "${BASELINE:-}" ] || linear_line "$BASELINE" -deepscan fill4c 128 baseline
linear_line "$rook" -deepscan fill4c 128
