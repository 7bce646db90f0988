#!/usr/bin/env bash
# Packages a build with CPack and checks what a person installs.
#
#   tests/package_test.sh BUILD_DIR [RUNNER]
#
# Linux build: the .deb, unpacked into a scratch root, holds a rook that
# runs (version, a record from the sample shortcut), a gzipped manual page
# that renders, the docs and a Debian copyright file, a description naming
# every layout, and depends on each optional library rook carries.
# Windows build: the zip holds rook.exe (run through RUNNER, e.g. wine), the
# same documents, and a licence text for every library rook.exe carries.
# Exits 77 (skipped) when a tool it needs is missing.
set -euo pipefail
build=$(cd "$1" && pwd)
runner=${2:-}
source_dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")
config=$build/CPackConfig.cmake
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$config")
generator=$(sed -n 's/^set(CPACK_GENERATOR "\(.*\)")$/\1/p' "$config")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package: $*"; exit 1; }

# The package lands in packages/ under the folder cpack runs in.
mkdir -p "$scratch/out"
if ! (cd "$scratch/out" && cpack --config "$config" -B "$scratch/out") >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  fail "cpack failed"
fi

check_version() { [ "$(head -1 "$scratch/version.txt")" = "rook ver: $version" ] || fail "version: $(cat "$scratch/version.txt")"; }
# The libraries `rook --version` names as present, one name a line.
present_libraries() { sed -n 's/^  \([a-z0-9]*\) [^:]* (.*)$/\1/p'; }

case $generator in
DEB)
  command -v dpkg-deb >/dev/null || { echo "no dpkg-deb"; exit 77; }
  deb=$scratch/out/packages/rook_${version}_$(dpkg --print-architecture).deb
  [ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$scratch/out/packages")"
  root=$scratch/root
  dpkg-deb -x "$deb" "$root"
  rook=$root/usr/bin/rook
  "$rook" --version >"$scratch/version.txt"
  check_version
  # Into a file first: grep -q leaving early would cut rook off mid-write.
  "$rook" "$source_dir/tests/data/sample.lnk" -quiet >"$scratch/sample.txt"
  grep -q '^Local base path: *C:\\Projects\\Report 2023.docx$' "$scratch/sample.txt" ||
    fail "the installed rook gave no record for the sample"
  page=$root/usr/share/man/man1/rook.1.gz
  gzip -t "$page" 2>/dev/null || fail "no gzipped manual page: $(ls "$root/usr/share/man/man1")"
  if command -v man >/dev/null; then
    MANWIDTH=80 man -l "$page" 2>"$scratch/man.err" >"$scratch/man.txt"
    grep -q '^NAME' "$scratch/man.txt" && [ ! -s "$scratch/man.err" ] ||
      fail "manual page: $(head -5 "$scratch/man.txt") $(cat "$scratch/man.err")"
  fi
  for doc in README.md json.md timesketch.md copyright; do [ -f "$root/usr/share/doc/rook/$doc" ] || fail "no /usr/share/doc/rook/$doc"; done
  head -2 "$root/usr/share/doc/rook/copyright" | tr '\n' ' ' |
    grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/ Upstream-Name: rook ' ||
    fail "copyright is not a Debian copyright file for rook"
  description=$(dpkg-deb -f "$deb" Description | tr -s ' \n' ' ')
  for layout in text CSV "log2timeline CSV" "body file" "JSON Lines" Timesketch HTML; do
    echo "$description" | grep -q "$layout" || fail "the description does not name $layout: $description"
  done
  # Debian names zlib's package zlib1g, wimlib's libwim15, the others
  # libNAME plus a number.
  depends=$(dpkg-deb -f "$deb" Depends)
  for library in $(present_libraries <"$scratch/version.txt" | sed 's/^wimlib$/libwim/'); do
    echo "$depends" | grep -qE "(^|, )$library[0-9a-z.-]* " || fail "Depends lacks $library: $depends"
  done
  echo "$(basename "$deb"): installs rook, its manual page and docs; depends on $depends"
  ;;
ZIP)
  zip=$scratch/out/packages/rook-$version-win64.zip
  [ -f "$zip" ] || fail "no $(basename "$zip"): $(ls "$scratch/out/packages")"
  python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip" >"$scratch/list.txt"
  for entry in rook.exe README.md json.md timesketch.md copyright docs/rook.1 licenses/gcc-mingw-w64-base.copyright \
    licenses/mingw-w64-common.copyright; do
    grep -qx "$entry" "$scratch/list.txt" || fail "zip lacks $entry"
  done
  if [ -n "$runner" ]; then
    python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$scratch/unzipped"
    (cd "$scratch/unzipped" && $runner rook.exe --version) | tr -d '\r' >"$scratch/version.txt"
    check_version
    for library in $(present_libraries <"$scratch/version.txt"); do
      grep -qx "licenses/$library.copyright" "$scratch/list.txt" || fail "zip lacks the licence of $library"
    done
  fi
  echo "$(basename "$zip"): $(tr '\n' ' ' <"$scratch/list.txt")"
  ;;
*) fail "unknown generator $generator" ;;
esac
