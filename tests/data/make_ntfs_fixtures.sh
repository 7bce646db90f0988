#!/usr/bin/env bash
# Builds the NTFS fixture volumes the tests read, with mkntfs and the ntfs-3g
# FUSE driver (run as root; needs /dev/fuse; the compressed volume also
# needs setfattr from the attr package):
#   make_ntfs_fixtures.sh OUTDIR [SAMPLE_LNK]
# writes OUTDIR/ntfs_small.img (1,024-byte records, 4 KiB clusters),
# OUTDIR/ntfs_4k.img (4,096-byte sectors and records) and
# OUTDIR/ntfs_compressed.img (an evidence volume, below, of shortcuts made
# from the sample). The shortcut bytes come from SAMPLE_LNK (default
# tests/data/sample.lnk).
#   make_ntfs_fixtures.sh --evidence IMAGE FILE...
# writes one evidence volume: a profile whose Recent folder and its two
# jump-list folders carry the compressed attribute, holding the FILEs
# (.lnk, *.automaticDestinations-ms, *.customDestinations-ms; others are
# planted as shortcuts) as s0001.lnk, ... and j0001_NAME; a folder tree three
# levels deep of shortcuts, deleted; and a shortcut whose folder was deleted
# and its record reused by another folder.
# The committed archives are this script's output; rerun it and repack when
# the layout below changes:
#   tar -C OUTDIR -cJf tests/data/ntfs_fixtures.tar.xz --sparse ntfs_small.img ntfs_4k.img
#   tar -C OUTDIR -cJf tests/data/ntfs_compressed.tar.xz --sparse ntfs_compressed.img
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
mnt="$work/mnt"
mkdir -p "$mnt"
cleanup() {
  mountpoint -q "$mnt" && umount "$mnt"
  rm -rf "$work"
}
trap cleanup EXIT

evidence_volume() {  # evidence_volume IMAGE FILE...
  local image=$1 total=0 n=0 f
  shift
  for f in "$@"; do total=$((total + $(stat -c %s "$f"))); done
  rm -f "$image"
  truncate -s $((16 * 1048576 + 2 * total)) "$image"
  mkntfs -F -q -f -c 4096 -L evidence "$image" >/dev/null 2>&1
  ntfs-3g -o compression "$image" "$mnt"
  local profile="$mnt/Users/alice" recent="$mnt/Users/alice/AppData/Roaming/Microsoft/Windows/Recent"
  mkdir -p "$recent"
  # "Compress contents": the attribute set on each folder before anything is
  # copied in compresses every file written there.
  setfattr -n system.ntfs_attrib_be -v 0x00000800 "$recent"
  for d in AutomaticDestinations CustomDestinations; do
    mkdir "$recent/$d"
    setfattr -n system.ntfs_attrib_be -v 0x00000800 "$recent/$d"
  done
  for f in "$@"; do
    n=$((n + 1))
    case "$f" in
      *.automaticDestinations-ms) cp "$f" "$recent/AutomaticDestinations/$(printf 'j%04d' $n)_$(basename "$f")" ;;
      *.customDestinations-ms) cp "$f" "$recent/CustomDestinations/$(printf 'j%04d' $n)_$(basename "$f")" ;;
      *) cp "$f" "$recent/$(printf 's%04d' $n).lnk" ;;
    esac
  done
  # NTFS frees a record by raising its sequence number. After a fresh mount
  # ntfs-3g gives the next file the lowest free record: the folder whose
  # record is reused is freed first, and the tree only after the reuse, so
  # that its records stay free.
  local tree="$profile/Desktop/old"
  mkdir -p "$tree/level2/level3"
  cp "$1" "$tree/one.lnk"
  cp "${2:-$1}" "$tree/level2/two.lnk"
  cp "${3:-$1}" "$tree/level2/level3/three.lnk"
  mkdir "$profile/Reused"
  cp "$1" "$profile/Reused/orphan.lnk"
  sync
  rm -rf "$profile/Reused"
  umount "$mnt"
  ntfs-3g -o compression "$image" "$mnt"
  mkdir "$profile/Newer"
  rm -rf "$tree"
  umount "$mnt"
}

if [ "${1:-}" = --evidence ]; then
  image=${2:?usage: make_ntfs_fixtures.sh --evidence IMAGE FILE...}
  shift 2
  [ $# -gt 0 ] || { echo "no files to plant" >&2; exit 2; }
  evidence_volume "$image" "$@"
  exit 0
fi

out=${1:?usage: make_ntfs_fixtures.sh OUTDIR [SAMPLE_LNK]}
sample=${2:-$here/sample.lnk}
mkdir -p "$out"

# Fixed times keep the images comparable between runs.
stamp() { touch -h -d "$2" "$1"; }

pad_to() {  # pad_to FILE SIZE: the sample shortcut followed by written zeros (no holes)
  cp "$sample" "$1"
  head -c $(($2 - $(stat -c %s "$sample"))) /dev/zero >>"$1"
}

# A shortcut small enough to stay resident in a 1,024-byte record: the
# header (no IDList, no LinkInfo) and a relative path string.
small_lnk() {
  {
    printf '\x4c\x00\x00\x00\x01\x14\x02\x00\x00\x00\x00\x00\xc0\x00\x00\x00\x00\x00\x00\x46'
    printf '\x08\x00\x00\x00\x20\x00\x00\x00'                   # HasRelativePath; archive
    printf '\x00\x80\x3e\xd5\xde\xb1\xd6\x01%.0s' 1 2 3          # three times (2021)
    printf '\x34\x12\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00'   # size 0x1234, icon 0, show normal
    printf '\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'           # hot key, reserved
    printf '\x0c\x00.\x00.\x00\\\x00n\x00o\x00t\x00e\x00s\x00.\x00t\x00x\x00t\x00'
    printf '\x00\x00\x00\x00'
  } >"$1"
}

small="$out/ntfs_small.img"
rm -f "$small"
truncate -s 8M "$small"
mkntfs -F -q -f -c 4096 -L fixture "$small" >/dev/null 2>&1
ntfs-3g "$small" "$mnt"

m="$mnt"
small_lnk "$m/resident.lnk"
cp "$sample" "$m/report.LNK"
mkdir -p "$m/x.lnk" "$m/Users/alice/Desktop" "$m/Users/alice/Recent/AutomaticDestinations" \
  "$m/Users/alice/Recent/CustomDestinations" "$m/many" "$m/System Volume Information"
pad_to "$m/Users/alice/Desktop/big.lnk" 9000
cp "$sample" "$m/x.lnk/inside.lnk"
cp "$sample" "$m/lnk"
cp "$sample" "$m/dosonly.lnk"
printf 'not a jump list\n' > "$m/Users/alice/Recent/foo-ms"
printf 'not a jump list\n' > "$m/Users/alice/Recent/a.destinations-ms"
pad_to "$m/Users/alice/Recent/AutomaticDestinations/5f7b5f1e01b83767.automaticDestinations-ms" 6000
cat "$sample" "$sample" "$sample" > "$m/Users/alice/Recent/CustomDestinations/28c8b86deab549a1.customDestinations-ms"

# Enough names in one directory that its index needs allocation blocks.
for i in $(seq -w 1 150); do printf '%s\n' "$i" > "$m/many/file_with_a_longer_name_$i.txt"; done

# A fragmented shortcut: grow it and a filler in turns, so that their
# clusters interleave.
mkdir "$m/frag"
cp "$sample" "$m/Users/alice/Desktop/fragmented.lnk"
for i in $(seq 1 8); do
  sync
  head -c 4096 /dev/zero >>"$m/Users/alice/Desktop/fragmented.lnk"
  sync
  head -c 4096 /dev/zero | tr '\0' 'f' >>"$m/frag/filler"
done

# A file whose names all sit in extension records: add long hard links until
# the base record overflows into an attribute list, then drop the first names.
mkdir "$m/links"
cp "$sample" "$m/links/target.lnk"
for i in $(seq -w 1 12); do
  ln "$m/links/target.lnk" "$m/links/another_rather_long_name_for_the_same_shortcut_file_number_$i.lnk"
done
rm "$m/links/target.lnk" "$m/links/"*_01.lnk "$m/links/"*_02.lnk

{ head -c 20480 /dev/zero; cat "$sample"; head -c 40000 /dev/zero; } >"$m/pagefile.sys"

# A shadow-copy catalog naming one store file that holds a shortcut.
catalog_guid=3808876b-c176-4e48-b7ae-04046e6cc752
store="$m/System Volume Information/{11111111-2222-3333-4444-555555555555}{$catalog_guid}"
{ head -c 8192 /dev/zero; cat "$sample"; head -c $((65536 - 8192 - $(stat -c %s "$sample"))) /dev/zero; } >"$store"
python3 - "$(stat -c %i "$store")" >"$m/System Volume Information/{$catalog_guid}" <<'PY'
import struct, sys, uuid
store = int(sys.argv[1]) | (1 << 48)
guid = uuid.UUID("11111111-2222-3333-4444-555555555555").bytes_le
out = bytearray(16384)
out[0:16] = uuid.UUID("3808876b-c176-4e48-b7ae-04046e6cc752").bytes_le
struct.pack_into("<Q", out, 128, 2)
struct.pack_into("<Q", out, 136, 8 << 20)
out[144:160] = guid
struct.pack_into("<Q", out, 176, 0x01D7426A8C9E3000)
struct.pack_into("<Q", out, 256, 3)
out[272:288] = guid
struct.pack_into("<QQQQQ", out, 288, 0, 0, 0, store, 65536)
sys.stdout.buffer.write(out)
PY

# A deleted shortcut whose record stays intact and whose clusters stay free.
pad_to "$m/Users/alice/Recent/gone.lnk" 8192
sync
rm "$m/Users/alice/Recent/gone.lnk"

stamp "$m/resident.lnk" "2021-05-06 07:08:09.123456700 UTC"
umount "$mnt"

k4="$out/ntfs_4k.img"
rm -f "$k4"
truncate -s 8M "$k4"
mkntfs -F -q -f -s 4096 -c 4096 -L fixture4k "$k4" >/dev/null 2>&1
ntfs-3g "$k4" "$mnt"
mkdir -p "$mnt/dir"
cp "$sample" "$mnt/dir/small.lnk"
pad_to "$mnt/dir/big.lnk" 20000
umount "$mnt"

# The evidence volume of sample shortcuts: one whose data fills several
# compression units with text (compressed), one with bytes no unit can
# shrink (stored as they are), and a custom list of three.
planted="$work/planted"
mkdir -p "$planted"
{ cat "$sample"; for i in $(seq 1 4000); do printf 'line %05d of a long shortcut tail\n' "$i"; done; } >"$planted/text.lnk"
{ cat "$sample"; python3 -c 'import random,sys; r=random.Random(7); sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range(70000)))'; } >"$planted/noise.lnk"
cat "$sample" "$sample" "$sample" >"$planted/28c8b86deab549a1.customDestinations-ms"
evidence_volume "$out/ntfs_compressed.img" "$sample" "$planted/text.lnk" "$planted/noise.lnk" \
  "$planted/28c8b86deab549a1.customDestinations-ms"
