#!/bin/sh
# One MBR disk (an NTFS partition of 512 MiB at 1 MiB holding 20,000 files,
# 1,000 of them shortcuts) as a raw image and as each container rook reads
# through its own byte source: fixed and dynamic VHD, VHDX, QCOW2 (plain
# and compressed) and the raw disk split into 100 MiB segments. Each is
# timed against the raw disk in the same run, files in the page cache, best
# of ROUNDS: rook -ntfs_scan and -rawscan, and sleuthkit's fls -r -p on the
# same container (sleuthkit reads no QCOW). Target: rook's -ntfs_scan ratio
# below fls's for every container.
#
#   bench/disk_container_speed.sh [path/to/rook] [ROUNDS]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
rook=${1:-$here/build/rook}
rounds=${2:-3}
work=$(mktemp -d "${TMPDIR:-/tmp}/rook_disk_container_bench_XXXXXX")
mnt=$work/mnt
cleanup() {
  mountpoint -q "$mnt" 2>/dev/null && fusermount -u "$mnt"
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
for tool in mkntfs ntfs-3g qemu-img sfdisk fls split bc; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done

volume=$work/volume.raw
truncate -s 512M "$volume"
mkntfs -F -f -q -p 2048 "$volume" 2>/dev/null
mkdir "$mnt"
ntfs-3g "$volume" "$mnt"
python3 - "$mnt" "$here/tests/data/sample.lnk" <<'PY'
import os, random, sys
mnt, sample = sys.argv[1], open(sys.argv[2], 'rb').read()
rng = random.Random(3)
for d in range(100):
    folder = os.path.join(mnt, f"folder{d:03}")
    os.mkdir(folder)
    for f in range(200):
        if f < 10:
            open(os.path.join(folder, f"shortcut{f:02}.lnk"), 'wb').write(sample)
        else:
            open(os.path.join(folder, f"file{f:03}.bin"), 'wb').write(rng.randbytes(rng.randrange(1, 40000)))
PY
fusermount -u "$mnt"
raw=$work/disk.raw
truncate -s 1M "$raw"
cat "$volume" >> "$raw"
rm "$volume"
echo 'start=2048, type=7' | sfdisk -q "$raw"

qemu-img convert -O vpc -o subformat=fixed "$raw" "$work/fixed.vhd"
qemu-img convert -O vpc "$raw" "$work/dynamic.vhd"
qemu-img convert -O vhdx "$raw" "$work/disk.vhdx"
qemu-img convert -O qcow2 "$raw" "$work/plain.qcow2"
qemu-img convert -O qcow2 -c "$raw" "$work/packed.qcow2"
(cd "$work" && split -b 100M -d -a 3 --numeric-suffixes=1 disk.raw split.)
cat "$work"/* > /dev/null 2>&1 || true

best_of() {
  for r in $(seq "$rounds"); do
    start=$(date +%s.%N)
    "$@" > /dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc
  done | sort -n | head -1
}
ratio() { echo "$1 / $2" | bc -l; }

ntfs_raw=$(best_of "$rook" "$raw" -ntfs_scan -offset 0x100000 -csv -quiet)
carve_raw=$(best_of "$rook" "$raw" -rawscan -csv -quiet)
fls_raw=$(best_of fls -r -p -o 2048 "$raw")
records=$("$rook" "$raw" -ntfs_scan -offset 0x100000 -csv -quiet | grep -c 'shortcut.*\.lnk' || true)
printf '%-13s -ntfs_scan %.3f s (%s shortcuts)  -rawscan %.3f s  fls -r -p %.3f s\n' raw "$ntfs_raw" "$records" \
  "$carve_raw" "$fls_raw"
for container in fixed.vhd dynamic.vhd disk.vhdx plain.qcow2 packed.qcow2 split.001; do
  image=$work/$container
  ntfs=$(best_of "$rook" "$image" -ntfs_scan -offset 0x100000 -csv -quiet)
  carve=$(best_of "$rook" "$image" -rawscan -csv -quiet)
  found=$("$rook" "$image" -ntfs_scan -offset 0x100000 -csv -quiet | grep -c 'shortcut.*\.lnk' || true)
  case $container in
    *.qcow2) fls_text="fls n/a (sleuthkit reads no QCOW)"; verdict="" ;;
    *)
      fls_time=$(best_of fls -r -p -o 2048 "$image")
      fls_ratio=$(ratio "$fls_time" "$fls_raw")
      fls_text=$(printf 'fls %.3f s ratio %.2f' "$fls_time" "$fls_ratio")
      if [ "$(echo "$(ratio "$ntfs" "$ntfs_raw") < $fls_ratio" | bc -l)" -eq 1 ]; then verdict="below fls"; else verdict="NOT below fls"; fi
      ;;
  esac
  printf '%-13s -ntfs_scan %.3f s ratio %.2f (%s shortcuts)  -rawscan %.3f s ratio %.2f  %s  %s\n' "$container" \
    "$ntfs" "$(ratio "$ntfs" "$ntfs_raw")" "$found" "$carve" "$(ratio "$carve" "$carve_raw")" "$fls_text" "$verdict"
done
