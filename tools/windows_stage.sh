#!/bin/sh
# The Windows program, checked from Linux: cross-builds the container
# libraries (tools/windows_deps.sh, cached), rook.exe and the unit tests with
# MinGW-w64, runs the tests under Wine, packages the zip, and compares
# rook.exe's reports with the Linux build's over the corpus and over an E01
# set, VMware, VHD, VHDX and QCOW2 disks and shadow copies. Whatever it
# leaves out it says, with the reason.
#
#   tools/windows_stage.sh [LINUX_BUILD_DIR]
#
# LINUX_BUILD_DIR (default build) must hold a built rook. Environment:
# ROOK_WINDOWS_BUILD (default build-windows), ROOK_WINDOWS_DEPS (a prefix
# already built by tools/windows_deps.sh; default: build or reuse one),
# ROOK_CORPUS (default ../shared/corpus), JOBS (default 2). Needs the Debian
# packages g++-mingw-w64-x86-64-posix, dpkg-dev, googletest, wine, wine64,
# cmake, python3, qemu-utils and ewf-tools.
set -eu
started=$(date +%s)

root=$(cd "$(dirname "$0")/.." && pwd)
linux_build=$(cd "${1:-$root/build}" && pwd)
windows_build=${ROOK_WINDOWS_BUILD:-$root/build-windows}
corpus=${ROOK_CORPUS:-$root/../shared/corpus}
jobs=${JOBS:-2}
linux_rook=$linux_build/rook
[ -x "$linux_rook" ] || { echo "no Linux build at $linux_rook" >&2; exit 2; }
# The fixtures are made with these; without one the comparisons would be
# left out, so the stage stops instead.
for tool in qemu-img qemu-io ewfacquirestream python3 wine wineserver; do
  command -v "$tool" >/dev/null || { echo "no $tool: the Windows stage needs it" >&2; exit 2; }
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/rook-windows.XXXXXX")
export WINEPREFIX="$scratch/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

echo "== container libraries"
deps=${ROOK_WINDOWS_DEPS:-$("$root/tools/windows_deps.sh" | tail -1)}
# Libraries tools/windows_deps.sh could not build are named with the reason
# and excused below; every other difference from the Linux build fails.
missing=$(ls "$deps/missing" 2>/dev/null | tr '\n' ' ')
for library in $missing; do
  echo "BLOCKED: $library is not in rook.exe: $(head -1 "$deps/missing/$library")"
  # Each attempt appends to the log: every reason once.
  sed -n '2,$p' "$deps/missing/$library" | grep -E 'E: |error' | awk '!seen[$0]++' | head -5 | sed 's/^/  /'
done
excused=$(echo "$missing" | sed 's/^ *//; s/ *$//; s/  */|/g')
# One by design: rook.exe's libewf keeps its libbfio to itself (it opens
# segments by name).
excused="${excused:+$excused|}libbfio"

echo "== cross-build ($windows_build)"
cmake -S "$root" -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROOK_WINDOWS_DEPS="$deps" >"$scratch/configure.txt"
grep '^-- rook:' "$scratch/configure.txt"
cmake --build "$windows_build" -j "$jobs" --target rook rook_tests >"$scratch/build.txt" ||
  { tail -40 "$scratch/build.txt"; exit 1; }
rook_exe=$windows_build/rook.exe
size=$(stat -c %s "$rook_exe")
echo "rook.exe: $size bytes (debug information in rook.exe.debug, $(stat -c %s "$rook_exe.debug") bytes)"
[ "$size" -lt $((10 << 20)) ] || { echo "rook.exe is 10 MB or more" >&2; exit 1; }

# Only DLLs that every Windows has.
dlls=$(x86_64-w64-mingw32-objdump -p "$rook_exe" | sed -n 's/.*DLL Name: //p' | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
echo "rook.exe imports: $dlls"
for dll in $dlls; do
  case $dll in
    KERNEL32.DLL | ADVAPI32.DLL | SHELL32.DLL | USER32.DLL | VERSION.DLL | MSVCRT.DLL) ;;
    *) echo "rook.exe needs $dll, which Windows does not ship" >&2; exit 1 ;;
  esac
done

# One wine server for every run below, then a fresh prefix.
mkdir -p "$WINEPREFIX"
wineserver -p
wineboot -i >/dev/null 2>&1

failures=0
note_failure() { failures=$((failures + 1)); }

echo "== unit tests under Wine"
(cd "$scratch" && wine "$windows_build/rook_tests.exe") >"$scratch/tests.txt" 2>&1 || note_failure
tr -d '\r' <"$scratch/tests.txt" | grep -E '^\[==========\] .* ran|^\[  (PASSED|SKIPPED|FAILED) *\]|: Failure$' |
  grep -v ' ms)$' || true
# rook.exe carries every container library: no test may be skipped for want
# of one, except one named BLOCKED above, and those are shown.
tr -d '\r' <"$scratch/tests.txt" | grep -E 'built without|which this build lacks' >"$scratch/wanting.txt" || true
if [ -n "$excused" ]; then
  grep -E "$excused" "$scratch/wanting.txt" | sed 's/^/BLOCKED: unit test output for want of a blocked library: /' || true
  grep -vE "$excused" "$scratch/wanting.txt" >"$scratch/unexcused.txt" || true
else
  cp "$scratch/wanting.txt" "$scratch/unexcused.txt"
fi
if [ -s "$scratch/unexcused.txt" ]; then
  cat "$scratch/unexcused.txt"
  echo "unit tests skipped or failed for want of a library"
  note_failure
fi

echo "== rook.exe --version and the zip"
# rook.exe reads what rook reads: the same libraries, at the same versions.
wine "$rook_exe" --version | tr -d '\r' | tee "$scratch/windows-version.txt"
"$linux_rook" --version >"$scratch/linux-version.txt"
for build in linux windows; do
  sed -n '/^optional libraries:/,$p' "$scratch/$build-version.txt" >"$scratch/$build-all-libraries.txt"
  if [ -n "$excused" ]; then
    grep -E "^  ($excused)[ :]" "$scratch/$build-all-libraries.txt" |
      sed "s/^ */BLOCKED: left out of the --version comparison ($build): /" || true
    grep -vE "^  ($excused)[ :]" "$scratch/$build-all-libraries.txt" >"$scratch/$build-libraries.txt" || true
  else
    cp "$scratch/$build-all-libraries.txt" "$scratch/$build-libraries.txt"
  fi
done
if ! diff "$scratch/linux-libraries.txt" "$scratch/windows-libraries.txt"; then
  echo "rook.exe and rook carry different container libraries"
  note_failure
fi
"$root/tests/package_test.sh" "$windows_build" wine || note_failure

# Runs both builds with the same arguments and standard input, from the
# scratch folder (Wine then reads "/..." paths through drive Z: unchanged).
# $1 names the comparison; the rest are rook's arguments. With
# EXPECT_REPORT set, rook must also succeed and write a report: two builds
# refusing a container alike would otherwise compare as the same. With
# DROP_LINES set (an extended regular expression), the lines it matches are
# left out of both builds' output and errors first (kept whole in *.all).
compare_run() {
  label=$1
  shift
  standard_input=${STDIN_FILE:-/dev/null}
  linux_status=0
  (cd "$scratch" && "$linux_rook" "$@" <"$standard_input" >"$scratch/linux.out" 2>"$scratch/linux.err") ||
    linux_status=$?
  (cd "$scratch" && wine "$rook_exe" "$@" <"$standard_input" >"$scratch/windows.out" 2>"$scratch/windows.err") || true
  if [ -n "${DROP_LINES:-}" ]; then
    for file in linux.out windows.out linux.err windows.err; do
      mv "$scratch/$file" "$scratch/$file.all"
      grep -vE "$DROP_LINES" "$scratch/$file.all" >"$scratch/$file" || true
    done
  fi
  printf '%-44s ' "$label"
  python3 "$root/tools/compare_reports.py" "$scratch/linux.out" "$scratch/windows.out" \
    "$scratch/linux.err" "$scratch/windows.err" || note_failure
  if [ -n "${EXPECT_REPORT:-}" ] && { [ "$linux_status" -ne 0 ] || [ ! -s "$scratch/linux.out" ]; }; then
    echo "  rook wrote no report (exit $linux_status): $(head -2 "$scratch/linux.err" | tr '\n' ' ')"
    note_failure
  fi
}

if [ ! -d "$corpus" ]; then
  echo "== corpus absent ($corpus): comparisons skipped"
else
  corpus=$(cd "$corpus" && pwd)
  echo "== rook.exe against rook over the corpus"
  find "$corpus/lnk" "$corpus/jumplists" -type f ! -path '*/lnkparse3-expected/*' | LC_ALL=C sort >"$scratch/list.txt"
  echo "$(wc -l <"$scratch/list.txt") shortcut and jump-list files"
  for layout in "" -csv -csvl2t -bodyfile; do
    STDIN_FILE="$scratch/list.txt" compare_run "-pipe ${layout:-(text)}" -pipe -quiet $layout
  done
  STDIN_FILE="$scratch/list.txt" compare_run "-pipe -deepscan -csv" -pipe -deepscan -quiet -csv

  # One input at a time: a shortcut, a jump list, and names outside ASCII.
  cp "$corpus/lnk/plaso/example.lnk" "$scratch/Пример ярлыка.lnk"
  cp "$corpus/lnk/plaso/example.lnk" "$scratch/例のショートカット.lnk"
  for input in "$corpus/lnk/plaso/example.lnk" \
    "$(grep -m1 'automaticDestinations-ms$' "$scratch/list.txt")" \
    "$scratch/Пример ярлыка.lnk" "$scratch/例のショートカット.lnk"; do
    compare_run "$(basename "$input")" "$input"
    compare_run "$(basename "$input") -csv" "$input" -csv
  done
  printf '%s\n' "$scratch/Пример ярлыка.lnk" "$scratch/例のショートカット.lnk" >"$scratch/names.txt"
  STDIN_FILE="$scratch/names.txt" compare_run "-pipe with non-ASCII names" -pipe -csv -quiet

  # A blob of every corpus file, each followed by padding, for raw carving.
  python3 - "$scratch/list.txt" "$scratch/blob.bin" <<'EOF'
import random, sys
rng = random.Random(10)
with open(sys.argv[1]) as names, open(sys.argv[2], "wb") as blob:
    for name in names.read().split("\n"):
        if name:
            blob.write(open(name, "rb").read())
            blob.write(bytes(rng.getrandbits(8) for _ in range(rng.randrange(0, 1500))))
EOF
  compare_run "-rawscan blob (text)" "$scratch/blob.bin" -rawscan -quiet
  compare_run "-rawscan blob -csv" "$scratch/blob.bin" -rawscan -quiet -csv

  # An NTFS volume image, once the build reads NTFS volumes.
  volume=$scratch/windows_volume.raw
  if [ ! -f "$corpus/images/windows_volume.qcow2" ]; then
    echo "SKIPPED: corpus volume comparisons: no $corpus/images/windows_volume.qcow2"
  else
    qemu-img convert -O raw "$corpus/images/windows_volume.qcow2" "$volume"
    compare_run "-rawscan volume image -csv" "$volume" -rawscan -quiet -csv
    if "$linux_rook" -ntfs_scan "$volume" 2>&1 | grep -q 'not available in this build'; then
      echo "-ntfs_scan: not in this build yet, skipped"
    else
      compare_run "-ntfs_scan volume image -csv" -ntfs_scan "$volume" -quiet -csv
    fi
  fi
fi

# Our own NTFS fixture holds allocated and deleted shortcuts and a jump list,
# so the volume path is compared on records, not just on an empty result.
tar -xJf "$root/tests/data/ntfs_fixtures.tar.xz" -C "$scratch" ntfs_small.img
compare_run "-ntfs_scan fixture -csv" -ntfs_scan "$scratch/ntfs_small.img" -quiet -csv
compare_run "-ntfs_scan fixture (text)" -ntfs_scan "$scratch/ntfs_small.img" -quiet
compare_run "-rawscan fixture -csv" "$scratch/ntfs_small.img" -rawscan -quiet -csv

# WOF-compressed shortcuts (XPRESS in 4, 8 and 16 KiB chunks, LZX) beside
# named streams, hard links, a stale tail and a torn record, read by
# rook.exe through the wimlib it carries. The Linux rook must find all four,
# or two builds that both miss them would compare as the same.
tar -xJf "$root/tests/data/ntfs_hidden.tar.xz" -C "$scratch" ntfs_hidden.img
hidden=$scratch/ntfs_hidden.img
wof_files='\\wof\\(xpress4k|xpress8k|xpress16k|lzx)\.lnk'
wof_count() { grep -oE "$wof_files" "$1" | sort -u | wc -l; }
if echo " $missing " | grep -q ' wimlib '; then
  # The rest of the volume still compares, and rook.exe must say what it
  # could not read.
  DROP_LINES="$wof_files|not decoded: WOF compression" EXPECT_REPORT=1 \
    compare_run "-ntfs_scan WOF fixture -csv, WOF left out" -ntfs_scan "$hidden" -quiet -csv
  named=$(tr -d '\r' <"$scratch/windows.err.all" | grep -m1 'not decoded: WOF compression' || true)
  echo "BLOCKED: WOF files read: rook $(wof_count "$scratch/linux.out.all") of 4," \
    "rook.exe $(wof_count "$scratch/windows.out.all") (no wimlib); rook.exe: ${named:-(names none)}"
  [ -n "$named" ] || note_failure
else
  EXPECT_REPORT=1 compare_run "-ntfs_scan WOF fixture (text)" -ntfs_scan "$hidden" -quiet
  EXPECT_REPORT=1 compare_run "-ntfs_scan WOF fixture -csv" -ntfs_scan "$hidden" -quiet -csv
  linux_wof=$(wof_count "$scratch/linux.out")
  windows_wof=$(wof_count "$scratch/windows.out")
  echo "WOF files read: rook $linux_wof of 4, rook.exe $windows_wof of 4"
  [ "$linux_wof" -eq 4 ] && [ "$windows_wof" -eq 4 ] || note_failure
fi

# Containers read through the libraries, made from the NTFS fixture (bare
# volume) and the corpus's shadow-copy volume.
echo "== containers"
volume=$scratch/ntfs_small.img
(
  cd "$scratch"
  # An E01 set of several segments, uncompressed so 1 MiB segments fill.
  ewfacquirestream -q -c none -S 1048576 -t fixture <"$volume" >/dev/null
  qemu-img convert -O vmdk -o subformat=streamOptimized "$volume" stream.vmdk
  # A sparse chain: the base, and a snapshot holding a shortcut written
  # into free space at 7 MiB.
  qemu-img convert -O vmdk "$volume" base.vmdk
  qemu-img create -q -f vmdk -b base.vmdk -F vmdk child.vmdk
  qemu-io -f vmdk -c "write -s $root/tests/data/sample.lnk $((7 << 20)) $(stat -c %s "$root/tests/data/sample.lnk")" \
    child.vmdk >/dev/null
)
echo "E01 segments: $(ls "$scratch"/fixture.E* | wc -l)"
for input in fixture.E01 stream.vmdk; do
  EXPECT_REPORT=1 compare_run "$input -ntfs_scan -csv" "$scratch/$input" -ntfs_scan -quiet -csv
  EXPECT_REPORT=1 compare_run "$input -rawscan" "$scratch/$input" -rawscan -quiet
done
chain="$scratch/child.vmdk | $scratch/base.vmdk"
EXPECT_REPORT=1 compare_run "-vmdk child | base -rawscan -csv" -vmdk "$chain" -rawscan -quiet -csv
EXPECT_REPORT=1 compare_run "-vmdk child | base -csv" -vmdk "$chain" -quiet -csv
compare_run "child.vmdk alone" "$scratch/child.vmdk" -ntfs_scan -quiet

# VHD, VHDX and QCOW2 (rook's own readers), a QCOW2 chain whose base is
# named by a relative path outside ASCII, and a VHDX under such a name:
# opened by rook.exe through its wide-character file calls.
(
  cd "$scratch"
  qemu-img convert -O vpc "$volume" disk.vhd
  qemu-img convert -O vhdx "$volume" disk.vhdx
  qemu-img convert -O qcow2 "$volume" disk.qcow2
  cp disk.vhdx "Образ диска.vhdx"
  qemu-img convert -O qcow2 "$volume" "ベース.qcow2"
  qemu-img create -q -f qcow2 -F qcow2 -b "ベース.qcow2" child.qcow2
  qemu-io -f qcow2 -c "write -s $root/tests/data/sample.lnk $((7 << 20)) $(stat -c %s "$root/tests/data/sample.lnk")" \
    child.qcow2 >/dev/null
)
for input in disk.vhd disk.vhdx disk.qcow2 "Образ диска.vhdx"; do
  EXPECT_REPORT=1 compare_run "$input -ntfs_scan -csv" "$scratch/$input" -ntfs_scan -quiet -csv
done
EXPECT_REPORT=1 compare_run "disk.vhdx -rawscan" "$scratch/disk.vhdx" -rawscan -quiet
EXPECT_REPORT=1 compare_run "disk.qcow2 -rawscan -csv" "$scratch/disk.qcow2" -rawscan -quiet -csv
EXPECT_REPORT=1 compare_run "child.qcow2 (base ベース.qcow2) -rawscan -csv" "$scratch/child.qcow2" -rawscan -quiet -csv
EXPECT_REPORT=1 compare_run "child.qcow2 (base ベース.qcow2) -ntfs_scan" "$scratch/child.qcow2" -ntfs_scan -quiet
# Shadow copies are read by rook itself: no library to excuse.
if [ ! -f "$corpus/images/vsstest.qcow2" ]; then
  echo "SKIPPED: -vss comparisons: no $corpus/images/vsstest.qcow2"
else
  qemu-img convert -O raw "$corpus/images/vsstest.qcow2" "$scratch/vsstest.raw"
  compare_run "vsstest -vss 1" "$scratch/vsstest.raw" -vss 1
  compare_run "vsstest -vss all -csv" "$scratch/vsstest.raw" -vss all -csv
  compare_run "vsstest -vss 2 -rawscan -csv" "$scratch/vsstest.raw" -vss 2 -rawscan -csv
  # The corpus's other volumes with copies made by Windows (sparse files).
  for archive in vss_2_stor.tar.gz vss_2003.tgz; do
    [ -f "$corpus/images/dfir_ntfs/$archive" ] || continue
    tar -xzf "$corpus/images/dfir_ntfs/$archive" -C "$scratch"
    raw=$scratch/${archive%%.t*}.raw
    compare_run "${archive%%.t*} -vss all -csv" "$raw" -vss all -csv
    rm -f "$raw"
  done
fi

elapsed=$(($(date +%s) - started))
if [ "$failures" -ne 0 ]; then
  echo "windows stage: $failures failure(s) ($elapsed s)"
  exit 1
fi
echo "windows stage: passed ($elapsed s)"
