#!/bin/sh
# One NTFS volume (512 MiB, 20,000 files of which 1,000 shortcuts; file
# contents random, or with CONTENT=text words that compress as documents do) scanned as a raw image, a
# monolithic sparse VMDK, a stream-optimized VMDK and an E01 set, all in the
# same run with the files in the page cache; best of ROUNDS. Prints each
# container's time for -ntfs_scan and -rawscan and its ratio to the raw
# image (target: at most 1.5), then the time zlib needs just to inflate the
# stream-optimized disk's grains, the floor for that container on one thread.
#
#   bench/container_speed.sh [path/to/rook] [ROUNDS]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
rook=${1:-$here/build/rook}
rounds=${2:-3}
work=$(mktemp -d "${TMPDIR:-/tmp}/rook_container_bench_XXXXXX")
mnt=$work/mnt
cleanup() {
  mountpoint -q "$mnt" 2>/dev/null && fusermount -u "$mnt"
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
for tool in mkntfs ntfs-3g qemu-img ewfacquirestream; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done

raw=$work/volume.raw
truncate -s 512M "$raw"
mkntfs -F -f -q "$raw" 2>/dev/null
mkdir "$mnt"
ntfs-3g "$raw" "$mnt"
python3 - "$mnt" "$here/tests/data/sample.lnk" "${CONTENT:-random}" <<'PY'
import os, random, sys
mnt, sample, content = sys.argv[1], open(sys.argv[2], 'rb').read(), sys.argv[3]
rng = random.Random(3)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randrange(2, 10))) for _ in range(3000)]
def body(size):
    if content != "text":
        return rng.randbytes(size)
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + b" "
    return bytes(out[:size])
for d in range(100):
    folder = os.path.join(mnt, f"folder{d:03}")
    os.mkdir(folder)
    for f in range(200):
        if f < 10:
            open(os.path.join(folder, f"shortcut{f:02}.lnk"), 'wb').write(sample)
        else:
            open(os.path.join(folder, f"file{f:03}.bin"), 'wb').write(body(rng.randrange(1, 40000)))
PY
fusermount -u "$mnt"
qemu-img convert -O vmdk "$raw" "$work/sparse.vmdk"
qemu-img convert -O vmdk -o subformat=streamOptimized "$raw" "$work/stream.vmdk"
ewfacquirestream -q -t "$work/evidence" < "$raw" >/dev/null
cat "$raw" "$work/sparse.vmdk" "$work/stream.vmdk" "$work"/evidence.E* > /dev/null

best_of() {
  for r in $(seq "$rounds"); do
    start=$(date +%s.%N)
    "$rook" "$@" -quiet > /dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc
  done | sort -n | head -1
}
for mode in -ntfs_scan -rawscan; do
  base=$(best_of "$raw" "$mode" -csv)
  printf '%-10s raw                 %.3f s\n' "$mode" "$base"
  for container in sparse.vmdk stream.vmdk evidence.E01; do
    t=$(best_of "$work/$container" "$mode" -csv)
    printf '%-10s %-19s %.3f s  ratio %.2f\n' "$mode" "$container" "$t" "$(echo "$t / $base" | bc -l)"
  done
done

# The least any one-thread reader of stream.vmdk can spend: zlib inflating
# every grain once and doing nothing else, against the raw -rawscan above.
floor=$(python3 - "$work/stream.vmdk" "$rounds" <<'PY'
import struct, sys, time, zlib
data = open(sys.argv[1], 'rb').read()
grains, pos = [], struct.unpack_from('<Q', data, 0x40)[0] * 512
while pos + 16 <= len(data):
    lba, size = struct.unpack_from('<QI', data, pos)
    if size:  # grain marker: LBA, size, zlib stream (header skipped)
        grains.append(data[pos + 14:pos + 12 + size])
        pos = (pos + 12 + size + 511) // 512 * 512
    elif struct.unpack_from('<I', data, pos + 12)[0] == 0:
        break  # end-of-stream marker
    else:
        pos += 512 + lba * 512  # table, directory or footer marker
best = None
for _ in range(int(sys.argv[2])):
    start = time.perf_counter()
    for grain in grains:
        zlib.decompress(grain, -15, 65536)
    spent = time.perf_counter() - start
    best = spent if best is None else min(best, spent)
print(f"{best:.3f}")
PY
)
printf '%-10s %-19s %.3f s  ratio %.2f  (inflate only, no scan)\n' -rawscan "stream.vmdk grains" "$floor" \
  "$(echo "$floor / $base" | bc -l)"
