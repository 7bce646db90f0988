#!/bin/sh
# One NTFS volume (512 MiB, 20,000 files of which 1,000 shortcuts; file
# contents random, or with CONTENT=text words that compress as documents
# do) scanned as a raw image, a monolithic sparse VMDK, a stream-optimized
# VMDK, an E01 set written with deflate (fast) and a compressed QCOW2 disk
# (qemu-img convert -c; fls reads no QCOW), all in the same run with
# the files in the page cache; best of ROUNDS.
#
# For -ntfs_scan and -rawscan, per container: rook's time (default threads,
# then -threads 1), its ratio to the raw image's, sleuthkit's fls -r -p on
# the container and on the raw image and their ratio, and the floor: the
# larger of the raw scan and the time to decode (inflate, check) only the
# blocks the scan reads, divided by the cores. The decode time is the
# processor time of decoding with the library rook decodes with (libdeflate
# for VMware grains and E01 chunks when rook has it, else zlib) by
# bench/inflate_only.c; the blocks an -ntfs_scan reads are those a scan of
# the raw volume reads (strace). "all" is the floor with every block of the
# container decoded, as the inflate-only line of earlier versions counted
# it. Target: rook at most 1.25 times the floor, and every container ratio
# below fls's. Last, rook's peak resident size for the -rawscan of the
# E01 set and of the stream-optimized disk. Times are wall-clock; the load
# average is printed before and after, since other work on the machine
# stretches them. KEEP=1 keeps the images and prints where.
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
  if [ -n "${KEEP:-}" ]; then echo "images kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT INT TERM
for tool in mkntfs ntfs-3g qemu-img ewfacquirestream fls strace cc python3 bc; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done
cores=$(nproc)

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
ewfacquirestream -q -c deflate:fast -t "$work/evidence" < "$raw" >/dev/null
qemu-img convert -O qcow2 -c "$raw" "$work/packed.qcow2"
cat "$raw" "$work/sparse.vmdk" "$work/stream.vmdk" "$work"/evidence.E* "$work/packed.qcow2" > /dev/null

libdeflate=""
[ -f /usr/include/libdeflate.h ] && libdeflate="-DHAVE_LIBDEFLATE -ldeflate"
# shellcheck disable=SC2086
cc -O2 "$here/bench/inflate_only.c" -o "$work/inflate_only" -lz $libdeflate

best_of() {
  for r in $(seq "$rounds"); do
    start=$(date +%s.%N)
    "$@" > /dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc
  done | sort -n | head -1
}
ratio() { echo "scale=2; $1 / $2" | bc; }
# Processor time (user + system) of one run.
cpu_of() {
  /usr/bin/time -f '%U %S' -o "$work/cpu" "$@" > /dev/null 2>&1 || true
  awk '{ printf "%.3f", $1 + $2 }' "$work/cpu"
}
max() { echo "if ($1 > $2) $1 else $2" | bc; }

# Decode-only time of the blocks a scan reads (all of them for -rawscan).
decode_time() {  # kind image [touched]
  python3 "$here/bench/container_blocks.py" "$1" "$2" "$work/pack" ${3:+"$3"}
  out=$("$work/inflate_only" "$work/pack" "$rounds")
  if [ -n "$libdeflate" ]; then
    echo "$out" | sed -n 's/^libdeflate //p'
  else
    echo "$out" | sed -n 's/^zlib //p'
  fi
}
strace -f -e trace=pread64 -o "$work/ntfs.trace" "$rook" "$raw" -ntfs_scan -csv -quiet >/dev/null 2>&1

fls_raw=$(best_of fls -r -p -i raw "$raw")
printf 'load average %s; %s cores; rook %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)" "$cores" "$rook"
printf '%-10s %-13s %7s %7s %7s %6s %7s %7s %6s %7s %6s %7s\n' mode container rook cpu "-thr 1" ratio fls "fls raw" ratio floor "/floor" all
for mode in -ntfs_scan -rawscan; do
  base=$(best_of "$rook" "$raw" "$mode" -csv -quiet)
  printf '%-10s %-13s %7.3f %7.3f\n' "$mode" raw "$base" "$(cpu_of "$rook" "$raw" "$mode" -csv -quiet)"
  for container in sparse.vmdk stream.vmdk evidence.E01 packed.qcow2; do
    t=$(best_of "$rook" "$work/$container" "$mode" -csv -quiet)
    one=$(best_of "$rook" "$work/$container" "$mode" -csv -quiet -threads 1)
    case $container in
      *.vmdk) type=vmdk ;;
      *.qcow2) type=qcow ;;
      *) type=ewf ;;
    esac
    fls_t=0
    [ "$type" = qcow ] || fls_t=$(best_of fls -r -p -i "$type" "$work/$container")
    floor=$base
    all=$base
    if [ "$container" != sparse.vmdk ]; then
      all=$(max "$base" "$(echo "scale=4; $(decode_time "$type" "$work/$container") / $cores" | bc)")
      floor=$all
      if [ "$mode" = -ntfs_scan ]; then
        decode=$(decode_time "$type" "$work/$container" "$work/ntfs.trace")
        floor=$(max "$base" "$(echo "scale=4; $decode / $cores" | bc)")
      fi
    fi
    cpu=$(cpu_of "$rook" "$work/$container" "$mode" -csv -quiet)
    printf '%-10s %-13s %7.3f %7.3f %7.3f %6.2f %7.3f %7.3f %6.2f %7.3f %6.2f %7.3f\n' "$mode" "$container" "$t" "$cpu" \
      "$one" "$(ratio "$t" "$base")" "$fls_t" "$fls_raw" "$(ratio "$fls_t" "$fls_raw")" "$floor" "$(ratio "$t" "$floor")" "$all"
  done
done
for container in evidence.E01 stream.vmdk packed.qcow2; do
  /usr/bin/time -f '%M' -o "$work/peak" "$rook" "$work/$container" -rawscan -csv -quiet >/dev/null 2>&1
  printf 'peak resident size, -rawscan %-13s %6d KiB\n' "$container" "$(cat "$work/peak")"
done
printf 'load average %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
