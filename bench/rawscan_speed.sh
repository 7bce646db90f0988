#!/bin/sh
# Times `rook IMAGE -rawscan -quiet` against `cat IMAGE > /dev/null` in the
# same run, both with the image in the page cache, over 512 MiB of random
# bytes with a shortcut in every MiB, 0 to 240 bytes into a sector, some
# running over a 64 KiB chunk end (bench/make_blob.py planted). Only the
# records in the first 64 bytes of a sector, and those in chunks that such a
# record sends to the full search, are found: the quick pass sees no others.
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
work=$(mktemp -d "${TMPDIR:-/tmp}/rook_rawscan_XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
. "$here/bench/carve_timing.sh"

[ -x "$rook" ] || { echo "no rook binary at $rook" >&2; exit 1; }
[ -s "$shortcut" ] || { echo "no shortcut at $shortcut" >&2; exit 1; }

image=$work/planted.img
python3 "$here/bench/make_blob.py" planted "$image" "$mib" "$shortcut"
cat "$image" > /dev/null  # into the page cache
against_cat 9 "$image" "$rook" "$image" -rawscan -quiet
records=$("$rook" "$image" -rawscan -quiet | grep -c "Parsed size:" || true)

echo "image:     $mib MiB, $mib shortcuts planted, $records records found"
echo "cat:       $best_cat s (best of 9, cat and rook in turn)"
echo "rawscan:   $best_rook s (best of 9)"
echo "ratio:     $(ratio "$best_rook" "$best_cat")"
if [ -n "${BASELINE:-}" ]; then
  against_cat 5 "$image" "$BASELINE" "$image" -rawscan -quiet
  base_records=$("$BASELINE" "$image" -rawscan -quiet | grep -c "Parsed size:" || true)
  echo "baseline:  $best_rook s (best of 5, against cat $best_cat s), ratio $(ratio "$best_rook" "$best_cat"), $base_records records"
fi
rm -f "$image"
[ -z "${BASELINE:-}" ] || linear_line "$BASELINE" -rawscan signatures 32 baseline
linear_line "$rook" -rawscan signatures 32
[ -z "${BASELINE:-}" ] || linear_line "$BASELINE" -rawscan fill4c 128 baseline
linear_line "$rook" -rawscan fill4c 128
