#!/bin/sh
# Work bounded by the data a container holds, not the size its header
# claims. A sparse VMDK of a 64 GiB disk holding 100 MiB of data (100 pieces
# of 1 MiB spread over the disk): its -rawscan against the -rawscan of the
# same 100 MiB as a raw file. Then containers that claim a petabyte: a
# 114-byte descriptor with one ZERO extent (-ntfs_scan and -rawscan), and an
# uncompressed 4 MiB E01 set whose volume and data sections claim 2^41
# sectors (-rawscan). Best of ROUNDS.
#
#   bench/claimed_size.sh [path/to/rook] [ROUNDS]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
rook=${1:-$here/build/rook}
rounds=${2:-3}
work=$(mktemp -d "${TMPDIR:-/tmp}/rook_claimed_XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
for tool in qemu-img ewfacquirestream python3 bc; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done

python3 - "$work" "$here/tests/data/sample.lnk" <<'PY'
import os, random, sys
work, sample = sys.argv[1], open(sys.argv[2], 'rb').read()
rng = random.Random(5)
disk = open(os.path.join(work, 'disk.raw'), 'wb')
data = open(os.path.join(work, 'data.raw'), 'wb')
disk.truncate(64 << 30)
for i in range(100):
    piece = bytearray(rng.randbytes(1 << 20))
    piece[4096:4096 + len(sample)] = sample
    disk.seek(i * (64 << 30) // 100 // (1 << 20) * (1 << 20))
    disk.write(piece)
    data.write(piece)
PY
qemu-img convert -O vmdk "$work/disk.raw" "$work/sparse.vmdk"
rm "$work/disk.raw"
printf '# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\ncreateType="monolithicFlat"\nRW 2199023255552 ZERO\n' \
  > "$work/zero.vmdk"
head -c 4194304 "$work/data.raw" > "$work/four.raw"
ewfacquirestream -q -c none -t "$work/four" < "$work/four.raw" >/dev/null
python3 - "$work/four.E01" <<'PY'
import struct, sys, zlib
path = sys.argv[1]
d = bytearray(open(path, 'rb').read())
pos = 13
while pos + 76 <= len(d):
    kind = bytes(d[pos:pos + 16]).rstrip(b'\0')
    following = struct.unpack_from('<Q', d, pos + 16)[0]
    if kind in (b'volume', b'data'):
        struct.pack_into('<Q', d, pos + 76 + 16, 1 << 41)
        struct.pack_into('<I', d, pos + 76 + 1048, zlib.adler32(bytes(d[pos + 76:pos + 76 + 1048])))
    if following <= pos:
        break
    pos = following
open(path, 'wb').write(d)
PY
cat "$work/sparse.vmdk" "$work/data.raw" > /dev/null

best_of() {
  for r in $(seq "$rounds"); do
    start=$(date +%s.%N)
    "$rook" "$@" -csv -quiet > /dev/null 2>&1 || true
    end=$(date +%s.%N)
    echo "$end - $start" | bc
  done | sort -n | head -1
}
printf 'load average %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
data=$(best_of "$work/data.raw" -rawscan)
sparse=$(best_of "$work/sparse.vmdk" -rawscan)
printf '%-46s %7.3f s\n' "-rawscan 100 MiB raw" "$data"
printf '%-46s %7.3f s  ratio %.2f\n' "-rawscan 64 GiB sparse VMDK with those 100 MiB" "$sparse" \
  "$(echo "$sparse / $data" | bc -l)"
printf '%-46s %7.3f s\n' "-ntfs_scan 1 PiB ZERO descriptor" "$(best_of "$work/zero.vmdk" -ntfs_scan)"
printf '%-46s %7.3f s\n' "-rawscan 1 PiB ZERO descriptor" "$(best_of "$work/zero.vmdk" -rawscan)"
printf '%-46s %7.3f s\n' "-rawscan 4 MiB E01 claiming 2^41 sectors" "$(best_of "$work/four.E01" -rawscan)"
"$rook" "$work/four.E01" -rawscan -csv -quiet 2>&1 >/dev/null | sed 's/^/  /'
printf 'load average %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
