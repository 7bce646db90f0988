#!/usr/bin/env bash
# Builds the NTFS fixture of files that hide from a scan of unnamed data
# and first names, with mkntfs, the ntfs-3g FUSE driver (run as root; needs
# /dev/fuse), setfattr and python3 with wimlib (libwim15) for the chunks:
#   make_ntfs_hidden.sh OUTDIR [SAMPLE_LNK]
# writes OUTDIR/ntfs_hidden.img (4 KiB clusters, 1,024-byte records):
#   docs/readme.txt:x.lnk and folder:y.lnk   shortcuts in named streams,
#                                            with a Zone.Identifier beside
#   docs/recent.automaticDestinations-ms     one file of eleven names, one
#                                            of which carries an AppID
#   wof/xpress4k.lnk ... wof/lzx.lnk         WOF-compressed (reparse tag
#                                            0x80000017, WofCompressedData)
#   wof/original.lnk                         the same bytes, plain
#   docs/stale.lnk                           initialized size cut to the
#                                            shortcut, stale bytes after it
#   docs/torn.lnk                            a record torn at a sector end
# Repack when the layout changes:
#   tar -C OUTDIR -cJf tests/data/ntfs_hidden.tar.xz --sparse ntfs_hidden.img
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: make_ntfs_hidden.sh OUTDIR [SAMPLE_LNK]}
sample=${2:-$here/sample.lnk}
work=$(mktemp -d)
mnt="$work/mnt"
mkdir -p "$mnt" "$out"
cleanup() {
  mountpoint -q "$mnt" && umount "$mnt"
  rm -rf "$work"
}
trap cleanup EXIT

image="$out/ntfs_hidden.img"
rm -f "$image"
truncate -s 16M "$image"
mkntfs -F -q -f -c 4096 -L hidden "$image" >/dev/null 2>&1
ntfs-3g -o streams_interface=xattr "$image" "$mnt"
m="$mnt"
mkdir -p "$m/docs" "$m/folder" "$m/old" "$m/copies" "$m/wof"

# Named streams: ntfs-3g shows them as user.NAME attributes.
printf 'read me\n' >"$m/docs/readme.txt"
setfattr -n user.x.lnk -v "0x$(xxd -p "$sample" | tr -d '\n')" "$m/docs/readme.txt"
setfattr -n user.Zone.Identifier -v $'[ZoneTransfer]\r\nZoneId=3\r\n' "$m/docs/readme.txt"
{ cat "$sample"; head -c 3000 /dev/zero; } >"$work/y.lnk"
setfattr -n user.y.lnk -v "0x$(xxd -p "$work/y.lnk" | tr -d '\n')" "$m/folder"

# Eleven names, the AppID in a late one: the base record overflows into an
# attribute list.
{ cat "$sample"; head -c 5000 /dev/zero; } >"$m/docs/recent.automaticDestinations-ms"
for i in $(seq -w 1 9); do
  ln "$m/docs/recent.automaticDestinations-ms" "$m/copies/a_rather_long_name_for_one_and_the_same_jump_list_$i.automaticDestinations-ms"
done
ln "$m/docs/recent.automaticDestinations-ms" "$m/old/5f7b5f1e01b83767.automaticDestinations-ms"

# WOF: a sparse stand-in as long as the file, the chunks in a stream, the
# reparse point last.
{ cat "$sample"; for i in $(seq 1 1500); do printf 'line %05d of a compacted shortcut tail\n' "$i"; done; } >"$work/original.lnk"
cp "$work/original.lnk" "$m/wof/original.lnk"
for algorithm in xpress4k:0:4096 lzx:1:32768 xpress8k:2:8192 xpress16k:3:16384; do
  IFS=: read -r name number chunk <<<"$algorithm"
  f="$m/wof/$name.lnk"
  : >"$f"
  truncate -s "$(stat -c %s "$work/original.lnk")" "$f"
  python3 - "$work/original.lnk" "$number" "$chunk" "$work/$name.stream" <<'PY'
import ctypes, struct, sys
data = open(sys.argv[1], "rb").read()
number, chunk = int(sys.argv[2]), int(sys.argv[3])
wim = ctypes.CDLL("libwim.so.15")
wim.wimlib_compress.restype = ctypes.c_size_t
compressor = ctypes.c_void_p()
ctype = 2 if number == 1 else 1  # LZX, else XPRESS (Huffman)
assert wim.wimlib_create_compressor(ctype, ctypes.c_size_t(chunk), 0, ctypes.byref(compressor)) == 0
chunks = []
for at in range(0, len(data), chunk):
    piece = data[at:at + chunk]
    out = ctypes.create_string_buffer(len(piece))
    size = wim.wimlib_compress(piece, ctypes.c_size_t(len(piece)), out, ctypes.c_size_t(len(piece) - 1), compressor)
    chunks.append(out.raw[:size] if size else piece)
table, offset = b"", 0
for c in chunks[:-1]:
    offset += len(c)
    table += struct.pack("<I", offset)
open(sys.argv[4], "wb").write(table + b"".join(chunks))
PY
  setfattr -n user.WofCompressedData -v "0x$(xxd -p "$work/$name.stream" | tr -d '\n')" "$f"
  reparse=$(printf '17000080100000000100000002000000010000000%s000000' "$number")
  setfattr -n system.ntfs_reparse_data -v "0x$reparse" "$f"
done

{ cat "$sample"; head -c 3000 /dev/zero | tr '\0' 's'; } >"$m/docs/stale.lnk"
cp "$sample" "$m/docs/torn.lnk"
umount "$mnt"

# The initialized size cut back to the shortcut, and a record torn: both
# written into the records as a torn write or a crash leaves them.
python3 - "$image" "$(stat -c %s "$sample")" <<'PY'
import struct, sys
img = bytearray(open(sys.argv[1], "rb").read())
u16, u32 = (lambda at: struct.unpack_from("<H", img, at)[0]), (lambda at: struct.unpack_from("<I", img, at)[0])
mft = struct.unpack_from("<Q", img, 48)[0] * u16(11) * img[13]
done = set()
for record in range(mft, mft + 1024 * 256, 1024):
    pos, name, data = record + u16(record + 20), None, None
    while img[record:record + 4] == b"FILE" and u32(pos) != 0xFFFFFFFF:
        if u32(pos) == 0x30:
            value = pos + u16(pos + 20)
            name = img[value + 66:value + 66 + 2 * img[value + 64]].decode("utf-16-le")
        if u32(pos) == 0x80 and img[pos + 9] == 0:
            data = pos
        pos += u32(pos + 4)
    if name == "stale.lnk":
        assert img[data + 8] == 1 and (data + 56 - record) % 512 < 504
        struct.pack_into("<Q", img, data + 56, int(sys.argv[2]))
    if name == "torn.lnk":
        img[record + 1022] ^= 0xFF
    done.add(name)
assert {"stale.lnk", "torn.lnk"} <= done
open(sys.argv[1], "wb").write(img)
PY
