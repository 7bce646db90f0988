#!/bin/sh
# `rook VOLUME -ntfs_scan -csv -quiet` on two 512 MiB NTFS volumes of 20,000
# files in 100 folders, 1,000 of them shortcuts of 40 KiB (made with mkntfs
# and an ntfs-3g mount: root and FUSE): one with the shortcuts plain, one
# with them WOF-compressed (XPRESS 4 KiB chunks, made with wimlib through
# python3), both in the page cache; best of ROUNDS. Prints both times and
# their ratio (target: at most 2).
#
#   bench/wof_scan_speed.sh [path/to/rook] [ROUNDS]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
rook=${1:-$here/build/rook}
rounds=${2:-5}
work=$(mktemp -d "${TMPDIR:-/tmp}/rook_wof_bench_XXXXXX")
mnt=$work/mnt
cleanup() {
  mountpoint -q "$mnt" 2>/dev/null && fusermount -u "$mnt"
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
[ -x "$rook" ] || { echo "no rook binary at $rook" >&2; exit 1; }
mkdir "$mnt"

make_volume() {  # make_volume IMAGE plain|wof
  truncate -s 512M "$1"
  mkntfs -F -f -q "$1" 2>/dev/null
  ntfs-3g -o streams_interface=xattr "$1" "$mnt"
  python3 - "$mnt" "$here/tests/data/sample.lnk" "$2" <<'PY'
import ctypes, os, struct, sys
mnt, sample, kind = sys.argv[1], open(sys.argv[2], "rb").read(), sys.argv[3]
data = sample + b"".join(b"line %05d of a shortcut tail\n" % i for i in range(1400))
if kind == "wof":
    wim = ctypes.CDLL("libwim.so.15")
    wim.wimlib_compress.restype = ctypes.c_size_t
    c = ctypes.c_void_p()
    assert wim.wimlib_create_compressor(1, ctypes.c_size_t(4096), 0, ctypes.byref(c)) == 0
    chunks = []
    for at in range(0, len(data), 4096):
        piece, out = data[at:at + 4096], ctypes.create_string_buffer(4096)
        size = wim.wimlib_compress(piece, ctypes.c_size_t(len(piece)), out, ctypes.c_size_t(len(piece) - 1), c)
        chunks.append(out.raw[:size] if size else piece)
    offsets = [sum(len(x) for x in chunks[:i + 1]) for i in range(len(chunks) - 1)]
    stream = struct.pack("<%dI" % len(offsets), *offsets) + b"".join(chunks)
    reparse = struct.pack("<IHHIIII", 0x80000017, 16, 0, 1, 2, 1, 0)
for d in range(100):
    folder = os.path.join(mnt, f"folder{d:03}")
    os.mkdir(folder)
    for f in range(200):
        path = os.path.join(folder, f"shortcut{f:02}.lnk" if f < 10 else f"file{f:03}.txt")
        if f >= 10:
            open(path, "wb").write(b"x" * (f * 7 % 900))
        elif kind == "plain":
            open(path, "wb").write(data)
        else:
            with open(path, "wb") as out:
                out.truncate(len(data))
            os.setxattr(path, "user.WofCompressedData", stream)
            os.setxattr(path, "system.ntfs_reparse_data", reparse)
PY
  fusermount -u "$mnt"
  cat "$1" >/dev/null
}

seconds() {
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
make_volume "$work/plain.img" plain
make_volume "$work/wof.img" wof
: >"$work/plain.t"
: >"$work/wof.t"
for r in $(seq "$rounds"); do
  seconds "$rook" "$work/plain.img" -ntfs_scan -csv -quiet >>"$work/plain.t"
  seconds "$rook" "$work/wof.img" -ntfs_scan -csv -quiet >>"$work/wof.t"
done
p=$(sort -n "$work/plain.t" | head -1)
w=$(sort -n "$work/wof.t" | head -1)
records=$("$rook" "$work/wof.img" -ntfs_scan -csv -quiet | grep -c '\.lnk,')
printf 'plain shortcuts: %.3f s\n' "$p"
printf 'WOF shortcuts:   %.3f s, %s records\n' "$w" "$records"
printf 'ratio WOF/plain: %.2f\n' "$(echo "$w / $p" | bc -l)"
