#!/bin/sh
# `rook VOLUME -ntfs_scan -csv -quiet` on two 1 GiB NTFS volumes holding the
# same 12,500 files in 100 folders (2,000 shortcuts and 500 jump lists from
# the corpus, or the sample shortcut when the corpus is absent, and text
# files): one with the compressed attribute on its root, so every file is
# stored LZNT1-compressed, one without. Made with mkntfs and ntfs-3g (root,
# FUSE, setfattr), both in the page cache, timed in alternation, best of
# ROUNDS. Prints both times, the records each found (the same) and their
# ratio (target: at most 1.3).
#
#   bench/compressed_scan_speed.sh [path/to/rook] [ROUNDS]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
rook=${1:-$here/build/rook}
rounds=${2:-5}
work=$(mktemp -d "${TMPDIR:-/tmp}/rook_compressed_bench_XXXXXX")
mnt=$work/mnt
cleanup() {
  mountpoint -q "$mnt" 2>/dev/null && umount "$mnt"
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

[ -x "$rook" ] || { echo "no rook binary at $rook" >&2; exit 1; }
for tool in mkntfs ntfs-3g setfattr bc python3; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done
mkdir "$mnt"

build() {  # build VOLUME compressed|plain
  truncate -s 1G "$1"
  mkntfs -F -f -q -c 4096 "$1" 2>/dev/null
  ntfs-3g -o compression "$1" "$mnt"
  [ "$2" = plain ] || setfattr -n system.ntfs_attrib_be -v 0x00000800 "$mnt"
  python3 - "$mnt" "$here" <<'PY'
import glob, os, sys
mnt, here = sys.argv[1], sys.argv[2]
corpus = os.path.join(here, "..", "shared", "corpus")
shortcuts = sorted(glob.glob(os.path.join(corpus, "lnk", "**", "*.lnk"), recursive=True))
lists = sorted(glob.glob(os.path.join(corpus, "jumplists", "**", "*Destinations-ms"), recursive=True))
sample = os.path.join(here, "tests", "data", "sample.lnk")
shortcuts = [open(p, "rb").read() for p in shortcuts] or [open(sample, "rb").read()]
lists = [(os.path.basename(p), open(p, "rb").read()) for p in lists]
for d in range(100):
    folder = os.path.join(mnt, f"folder{d:03}")
    os.mkdir(folder)
    for f in range(20):
        open(os.path.join(folder, f"shortcut{f:02}.lnk"), "wb").write(shortcuts[(d * 20 + f) % len(shortcuts)])
    for f in range(5 if lists else 0):
        name, data = lists[(d * 5 + f) % len(lists)]
        open(os.path.join(folder, f"{f}_{name}"), "wb").write(data)
    for f in range(100):
        line = f"folder {d} file {f} holds a line of text\n".encode()
        open(os.path.join(folder, f"file{f:03}.txt"), "wb").write(line * (f * 7 % 300 + 1))
PY
  umount "$mnt"
}
build "$work/compressed.img" compressed
build "$work/plain.img" plain

cat "$work/compressed.img" "$work/plain.img" > /dev/null
seconds() {
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
: > "$work/compressed.t"
: > "$work/plain.t"
for r in $(seq "$rounds"); do
  seconds "$rook" "$work/compressed.img" -ntfs_scan -csv -quiet >> "$work/compressed.t"
  seconds "$rook" "$work/plain.img" -ntfs_scan -csv -quiet >> "$work/plain.t"
done
records() { "$rook" "$1" -ntfs_scan -json -quiet | wc -l; }
c=$(sort -n "$work/compressed.t" | head -1)
p=$(sort -n "$work/plain.t" | head -1)
printf 'compressed volume: %.3f s, %s records\n' "$c" "$(records "$work/compressed.img")"
printf 'plain volume:      %.3f s, %s records\n' "$p" "$(records "$work/plain.img")"
printf 'ratio compressed/plain: %.2f\n' "$(echo "$c / $p" | bc -l)"
