#!/bin/sh
# Records per second for `rook -pipe -json -quiet` over the corpus list
# (shortcuts and jump lists) repeated REPEAT times, with `-pipe -csv -quiet`
# over the same list in the same run beside it; fastest of three each, files
# in the page cache.
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

# best_of LAYOUT OUTPUT: "elapsed cpu" seconds of the fastest of three runs;
# cpu (user + system) tells how much of a slow run was the machine's load.
best_of() {
  best=""
  best_cpu=""
  for run in 1 2 3; do
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$rook" -pipe "$1" -quiet < "$work/list.txt" > "$2" 2> /dev/null
    read -r secs user sys < "$work/time"
    if [ -z "$best" ] || [ "$(echo "$secs < $best" | bc -l)" -eq 1 ]; then
      best=$secs
      best_cpu=$(echo "$user + $sys" | bc -l)
    fi
  done
  echo "$best $best_cpu"
}

set -- $(best_of -json "$work/out.jsonl")
json_secs=$1 json_cpu=$2
json_records=$(wc -l < "$work/out.jsonl")
set -- $(best_of -csv "$work/out.csv")
csv_secs=$1 csv_cpu=$2
# The CSV holds the run header, an empty line and its column line before the rows.
csv_records=$(awk 'header { rows++ } !header && $0 == "" { header = 1; getline } END { print rows + 0 }' "$work/out.csv")

printf 'files in list:   %d (%d distinct, repeated %d times)\n' "$files" "$(wc -l < "$work/base.txt")" "$repeat"
printf 'rook -json:      %d records, %.2f s (cpu %.2f s), %.0f records/s, %.1f MB\n' "$json_records" \
  "$json_secs" "$json_cpu" "$(echo "$json_records / $json_secs" | bc -l)" \
  "$(echo "$(wc -c < "$work/out.jsonl") / 1000000" | bc -l)"
printf 'rook -csv:       %d records, %.2f s (cpu %.2f s), %.0f records/s\n' "$csv_records" "$csv_secs" \
  "$csv_cpu" "$(echo "$csv_records / $csv_secs" | bc -l)"
printf 'load average:    %s\n' "$(cut -d ' ' -f 1-3 /proc/loadavg 2>/dev/null || echo unknown)"
