#!/bin/sh
# Records per second for `rook -pipe -json -quiet` over the corpus list
# (shortcuts and jump lists) repeated REPEAT times, with `-pipe -csv -quiet`
# over the same list in the same run beside it; best of three each, files in
# the page cache.
#
#   bench/json_throughput.sh [ROOK_BINARY] [CORPUS_DIR] [REPEAT]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
rook=${1:-$here/build/rook}
corpus=${2:-$here/../shared/corpus}
repeat=${3:-20}

[ -x "$rook" ] || { echo "no rook binary at $rook (build first)" >&2; exit 1; }
[ -d "$corpus/lnk" ] || { echo "no corpus at $corpus" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

find "$corpus/lnk" "$corpus/jumplists" -type f | sort > "$work/base.txt"
i=0
while [ "$i" -lt "$repeat" ]; do
  cat "$work/base.txt"
  i=$((i + 1))
done > "$work/list.txt"
files=$(wc -l < "$work/list.txt")
xargs -d '\n' cat < "$work/base.txt" > /dev/null

now() { date +%s.%N; }

# best_of LAYOUT OUTPUT: the shortest of three runs, in seconds.
best_of() {
  best=""
  for run in 1 2 3; do
    start=$(now)
    "$rook" -pipe "$1" -quiet < "$work/list.txt" > "$2" 2> /dev/null
    end=$(now)
    secs=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$secs < $best" | bc -l)" -eq 1 ]; then best=$secs; fi
  done
  echo "$best"
}

json_secs=$(best_of -json "$work/out.jsonl")
json_records=$(wc -l < "$work/out.jsonl")
csv_secs=$(best_of -csv "$work/out.csv")
# The CSV holds the run header, an empty line and its column line before the rows.
csv_records=$(awk 'header { rows++ } !header && $0 == "" { header = 1; getline } END { print rows + 0 }' "$work/out.csv")

printf 'files in list:   %d (%d distinct, repeated %d times)\n' "$files" "$(wc -l < "$work/base.txt")" "$repeat"
printf 'rook -json:      %d records, %.3f s, %.0f records/s, %.1f MB\n' "$json_records" "$json_secs" \
  "$(echo "$json_records / $json_secs" | bc -l)" "$(echo "$(wc -c < "$work/out.jsonl") / 1000000" | bc -l)"
printf 'rook -csv:       %d records, %.3f s, %.0f records/s\n' "$csv_records" "$csv_secs" \
  "$(echo "$csv_records / $csv_secs" | bc -l)"
