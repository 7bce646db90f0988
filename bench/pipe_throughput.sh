#!/bin/sh
# Files per second for `rook -pipe -csv -quiet` over the corpus file list
# repeated REPEAT times, against Debian's lnkinfo run once per file over the
# same list, both measured in this run with the files in the page cache.
#
#   bench/pipe_throughput.sh [ROOK_BINARY] [CORPUS_DIR] [REPEAT]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
rook=${1:-$here/build/rook}
corpus=${2:-$here/../shared/corpus/lnk}
repeat=${3:-20}

[ -x "$rook" ] || { echo "no rook binary at $rook (build first)" >&2; exit 1; }
[ -d "$corpus" ] || { echo "no corpus at $corpus" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

find "$corpus" -type f | sort > "$work/base.txt"
i=0
while [ "$i" -lt "$repeat" ]; do
  cat "$work/base.txt"
  i=$((i + 1))
done > "$work/list.txt"
files=$(wc -l < "$work/list.txt")

# Warm the page cache so both tools read from memory.
xargs -d '\n' cat < "$work/base.txt" > /dev/null

now() { date +%s.%N; }

start=$(now)
"$rook" -pipe -csv -quiet < "$work/list.txt" > "$work/rook.csv" 2> /dev/null
end=$(now)
rook_secs=$(echo "$end - $start" | bc -l)
rows=$(wc -l < "$work/rook.csv")

lnkinfo_secs=""
if command -v lnkinfo > /dev/null 2>&1; then
  start=$(now)
  xargs -d '\n' -n 1 lnkinfo < "$work/list.txt" > /dev/null 2>&1 || true
  end=$(now)
  lnkinfo_secs=$(echo "$end - $start" | bc -l)
fi

rook_rate=$(echo "$files / $rook_secs" | bc -l)
printf 'files in list:      %d (%d distinct, repeated %d times)\n' "$files" "$(wc -l < "$work/base.txt")" "$repeat"
printf 'rook output lines:  %d\n' "$rows"
printf 'rook -pipe -csv:    %.3f s, %.0f files/s\n' "$rook_secs" "$rook_rate"
if [ -n "$lnkinfo_secs" ]; then
  lnkinfo_rate=$(echo "$files / $lnkinfo_secs" | bc -l)
  printf 'lnkinfo per file:   %.3f s, %.0f files/s\n' "$lnkinfo_secs" "$lnkinfo_rate"
  printf 'ratio rook/lnkinfo: %.1f\n' "$(echo "$rook_rate / $lnkinfo_rate" | bc -l)"
else
  echo "lnkinfo not installed; no comparison"
fi
