#!/bin/sh
# `rook VOLUME -ntfs_scan -csv -quiet` against `fls -r -p VOLUME` on a 2 GiB
# NTFS volume with 40,000 files in 200 folders, 2,000 of them shortcuts
# (made with mkntfs and an ntfs-3g mount: root and FUSE), both with the
# volume in the page cache; best of ROUNDS. Prints the times, their ratio
# (target: at most 0.5), the records found (target: 2,000) and rook's peak
# resident size (target: under 64 MiB).
#
#   bench/ntfs_scan_speed.sh [path/to/rook] [ROUNDS]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
rook=${1:-$here/build/rook}
rounds=${2:-5}
work=$(mktemp -d "${TMPDIR:-/tmp}/rook_ntfs_bench_XXXXXX")
volume=$work/volume.img
mnt=$work/mnt
cleanup() {
  mountpoint -q "$mnt" 2>/dev/null && fusermount -u "$mnt"
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

[ -x "$rook" ] || { echo "no rook binary at $rook" >&2; exit 1; }
for tool in mkntfs ntfs-3g fls; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done

truncate -s 2G "$volume"
mkntfs -F -f -q "$volume" 2>/dev/null
mkdir "$mnt"
ntfs-3g "$volume" "$mnt"
python3 - "$mnt" "$here/tests/data/sample.lnk" <<'PY'
import os, sys
mnt, sample = sys.argv[1], open(sys.argv[2], 'rb').read()
for d in range(200):
    folder = os.path.join(mnt, f"folder{d:03}")
    os.mkdir(folder)
    for f in range(200):
        if f < 10:
            open(os.path.join(folder, f"shortcut{f:02}.lnk"), 'wb').write(sample)
        else:
            open(os.path.join(folder, f"file{f:03}.txt"), 'wb').write(b"x" * (f * 7 % 900))
PY
fusermount -u "$mnt"

cat "$volume" > /dev/null
best() { sort -n | head -1; }
seconds() {
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
: > "$work/rook.t"
: > "$work/fls.t"
for r in $(seq "$rounds"); do
  seconds "$rook" "$volume" -ntfs_scan -csv -quiet >> "$work/rook.t"
  seconds fls -r -p "$volume" >> "$work/fls.t"
done
records=$("$rook" "$volume" -ntfs_scan -csv -quiet | grep -c '\.lnk,')
peak=$(/usr/bin/time -f %M "$rook" "$volume" -ntfs_scan -csv -quiet 2>&1 >/dev/null | tail -1)
r=$(best < "$work/rook.t")
f=$(best < "$work/fls.t")
printf 'rook -ntfs_scan -csv: %.3f s, %s records, peak %s KiB\n' "$r" "$records" "$peak"
printf 'fls -r -p:            %.3f s\n' "$f"
printf 'ratio rook/fls:       %.2f\n' "$(echo "$r / $f" | bc -l)"
