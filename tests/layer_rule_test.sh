#!/usr/bin/env bash
# The layer checker passes on the tree and fails on a copy of it with one
# upward include added (a decoder reaching into the writers).
set -euo pipefail
root=$1
python3 "$root/tools/check_layers.py" "$root"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$root/layers.txt" "$scratch/"
for folder in $(grep -oE '^[a-z_]+' "$root/layers.txt"); do
  [ -d "$root/$folder" ] && cp -r "$root/$folder" "$scratch/"
done
sed -i '1i #include "report/record_writer.h"' "$scratch/lnk/parse_lnk.cpp"
if python3 "$root/tools/check_layers.py" "$scratch" > "$scratch/out.txt"; then
  echo "an upward include went unnoticed"
  exit 1
fi
grep -q 'lnk may not include report' "$scratch/out.txt"
echo "upward include refused"
