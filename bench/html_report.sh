#!/bin/sh
# -html over about RECORDS records (100,000 by default): the corpus list
# (shortcuts and jump lists) repeated until it gives that many, run twice:
#   repeated  the same file names again and again, so every report line after
#             the first pass is one the page already holds;
#   distinct  each pass through a tree of hard links of its own, so every
#             record has a source path no other record has.
# For each: the page's size, rook's time and peak memory against the same run
# writing -csv alone (the reference), and headless Chromium's time to draw the
# page (bench/html_render.py, fastest of three).
#
#   bench/html_report.sh [ROOK_BINARY] [CORPUS_DIR] [RECORDS]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
rook=${1:-$here/build/rook}
corpus=${2:-$here/../shared/corpus}
records=${3:-100000}

[ -x "$rook" ] || { echo "no rook binary at $rook (build first)" >&2; exit 1; }
[ -d "$corpus/lnk" ] || { echo "no corpus at $corpus" >&2; exit 1; }
command -v chromium >/dev/null || { echo "chromium is not installed (Debian package chromium)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

find "$corpus/lnk" "$corpus/jumplists" -type f | sort > "$work/base.txt"
per_pass=$("$rook" -pipe -json -quiet < "$work/base.txt" | wc -l)
passes=$(( (records + per_pass - 1) / per_pass ))
i=0
while [ "$i" -lt "$passes" ]; do
  cat "$work/base.txt"
  i=$((i + 1))
done > "$work/repeated.txt"
i=0
while [ "$i" -lt "$passes" ]; do
  mkdir -p "$work/links/$i"
  cp -al "$corpus/lnk" "$corpus/jumplists" "$work/links/$i/"
  i=$((i + 1))
done
find "$work/links" -type f | sort > "$work/distinct.txt"
xargs -d '\n' cat < "$work/distinct.txt" > /dev/null

# measure LIST OPTIONS...: "seconds peak_kib" of one rook run.
measure() {
  list=$1
  shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$rook" -pipe -quiet "$@" < "$list" > /dev/null 2>&1
  cat "$work/time"
}

for kind in repeated distinct; do
  set -- $(measure "$work/$kind.txt" -csv)
  csv_secs=$1 csv_kib=$2
  set -- $(measure "$work/$kind.txt" -csv -html "$work/$kind.html")
  html_secs=$1 html_kib=$2
  size=$(stat -c %s "$work/$kind.html")
  echo "== $kind: $passes passes of $per_pass records"
  echo "rook -pipe -csv -html: $html_secs s, peak $((html_kib / 1024)) MiB; -csv alone: $csv_secs s, peak $((csv_kib / 1024)) MiB;" \
       "ratio $(echo "scale=2; $html_secs / $csv_secs" | bc -l)"
  echo "page: $((size / 1048576)) MiB ($((size / (passes * per_pass))) bytes per record)"
  python3 "$here/bench/html_render.py" "$work/$kind.html" 3
done
