#!/usr/bin/env bash
# The layer rule fails the build: the checker passes on the tree, and a copy
# of the tree with a forbidden include of each spelling ("x/y.h",
# "../x/y.h", <x/y.h>, and one in a subfolder) does not build, the lowest
# layer included, before anything is compiled.
set -euo pipefail
root=$1
python3 "$root/tools/check_layers.py" "$root"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -r "$root/CMakeLists.txt" "$root/layers.txt" "$root/cmake" "$scratch/"
mkdir -p "$scratch/tools"
cp "$root/tools/check_layers.py" "$scratch/tools/"
for folder in $(grep -oE '^[a-z_]+' "$root/layers.txt"); do
  [ -d "$root/$folder" ] && cp -r "$root/$folder" "$scratch/"
done
cmake -S "$scratch" -B "$scratch/build" -DROOK_TESTS=OFF > "$scratch/configure.txt" 2>&1 ||
  { cat "$scratch/configure.txt"; exit 1; }
cmake --build "$scratch/build" --target layer_rule > "$scratch/clean.txt" 2>&1 ||
  { echo "the layer check refuses the tree itself"; cat "$scratch/clean.txt"; exit 1; }

sed -i '1i #include "report/record_writer.h"' "$scratch/lnk/parse_lnk.cpp"
sed -i '1i #include "../lnk/lnk_record.h"' "$scratch/shellitems/idlist.cpp"
sed -i '1i #include <ntfs/ntfs_volume.h>' "$scratch/storage/byte_source.cpp"
mkdir -p "$scratch/jumplist/extra"
printf '#include "scan/mft_scan.h"\n' > "$scratch/jumplist/extra/helper.cpp"
if cmake --build "$scratch/build" --target rook_platform > "$scratch/out.txt" 2>&1; then
  echo "a forbidden include still builds"
  exit 1
fi
for expected in 'lnk/parse_lnk.cpp:1: lnk may not include report' \
                'shellitems/idlist.cpp:1: shellitems may not include lnk' \
                'storage/byte_source.cpp:1: storage may not include ntfs' \
                'jumplist/extra/helper.cpp:1: jumplist may not include scan'; do
  grep -qF "$expected" "$scratch/out.txt" || { echo "not refused: $expected"; cat "$scratch/out.txt"; exit 1; }
done
if grep -q 'Building CXX' "$scratch/out.txt"; then
  echo "sources were compiled before the check"
  exit 1
fi
echo "every spelling of a forbidden include fails the build"
