#!/bin/sh
# Runs two builds of rook over the same inputs and reports whether every
# output is byte for byte the same (the run header's time and command lines
# aside): -rawscan and -deepscan over a planted image of the sample shortcut,
# one of the corpus shortcuts, and images of nothing but signatures and of
# nothing but 0x4C bytes; the corpus files through -pipe plain, -deepscan and
# -rawscan; and a corpus volume image with shortcuts copied in, -rawscan.
# Each in the text and the CSV layout. Needs python3; the volume step also
# qemu-img and ntfscp.
#
#   bench/compare_outputs.sh OLD_ROOK NEW_ROOK [CORPUS_DIR] [MIB]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
old=$1
new=$2
corpus=${3:-$here/../shared/corpus}
mib=${4:-64}
work=$(mktemp -d "${TMPDIR:-/tmp}/rook_compare_XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

for binary in "$old" "$new"; do
  [ -x "$binary" ] || { echo "no rook binary at $binary" >&2; exit 1; }
done

python3 "$here/bench/make_blob.py" planted "$work/planted.img" "$mib" "$here/tests/data/sample.lnk"
python3 "$here/bench/make_blob.py" signatures "$work/signatures.img" 4
python3 "$here/bench/make_blob.py" fill4c "$work/fill4c.img" 16
inputs="$work/planted.img $work/signatures.img $work/fill4c.img"
if [ -d "$corpus/lnk" ]; then
  python3 "$here/bench/make_blob.py" corpus "$work/corpus.img" "$mib" "$corpus/lnk"
  inputs="$inputs $work/corpus.img"
  find "$corpus/lnk" "$corpus/jumplists" -type f | sort > "$work/list.txt"
fi
# A real NTFS volume with corpus shortcuts copied in: small ones stay resident
# in their MFT records, off sector boundaries, larger ones fill clusters.
if [ -f "$corpus/images/windows_volume.qcow2" ] && command -v qemu-img > /dev/null 2>&1 &&
   command -v ntfscp > /dev/null 2>&1; then
  qemu-img convert -O raw "$corpus/images/windows_volume.qcow2" "$work/volume.raw"
  n=0
  find "$corpus/lnk" -type f -size -64k | sort | awk 'NR % 3 == 0' | head -250 |
    while IFS= read -r f; do
      n=$((n + 1))
      ntfscp -f "$work/volume.raw" "$f" "/planted_$n.lnk" > /dev/null 2>&1 || true
    done
  volume="$work/volume.raw"
fi

# The first read of a new file moves its access time, which the reports show.
for f in $inputs ${volume:-}; do cat "$f" > /dev/null; done
[ -f "$work/list.txt" ] && tr '\n' '\0' < "$work/list.txt" | xargs -0 cat > /dev/null

failures=0
# compare NAME ARGS...: runs both builds and reports the first difference.
compare() {
  name=$1
  shift
  "$old" "$@" > "$work/old.out" 2> /dev/null < "${stdin:-/dev/null}" || true
  "$new" "$@" > "$work/new.out" 2> /dev/null < "${stdin:-/dev/null}" || true
  grep -av '^run time:\|^command:' "$work/old.out" > "$work/old.txt" || true
  grep -av '^run time:\|^command:' "$work/new.out" > "$work/new.txt" || true
  records=$(grep -ac 'Parsed size:' "$work/new.txt" || true)
  case "$*" in *-csv*) records=- ;; esac
  bytes=$(wc -c < "$work/new.txt")
  if cmp -s "$work/old.txt" "$work/new.txt"; then
    printf 'same       %-40s %8s bytes %6s records\n' "$name" "$bytes" "$records"
  else
    printf 'DIFFERENT  %-40s\n' "$name"
    diff "$work/old.txt" "$work/new.txt" | head -5
    failures=$((failures + 1))
  fi
}

for image in $inputs; do
  base=$(basename "$image")
  for mode in -rawscan -deepscan; do
    compare "$base $mode" "$image" "$mode" -quiet
    compare "$base $mode -csv" "$image" "$mode" -csv -quiet
  done
done
if [ -f "$work/list.txt" ]; then
  stdin="$work/list.txt"
  for mode in "" -deepscan -rawscan; do
    compare "corpus -pipe $mode" -pipe $mode -quiet
    compare "corpus -pipe $mode -csv" -pipe $mode -csv -quiet
  done
  stdin=""
fi
if [ -n "${volume:-}" ]; then
  compare "windows_volume -rawscan" "$volume" -rawscan -quiet
  compare "windows_volume -rawscan -csv" "$volume" -rawscan -csv -quiet
fi

if [ "$failures" -eq 0 ]; then echo "all outputs identical"; else echo "$failures outputs differ"; exit 1; fi
