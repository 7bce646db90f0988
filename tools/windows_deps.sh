#!/bin/sh
# Cross-builds the container libraries rook.exe links statically (zlib,
# libdeflate, libbfio, libewf, and wimlib with the libxml2 it needs) for
# 64-bit Windows from Debian's own source packages, installs them into a prefix and prints that
# prefix as the last line of standard output:
#
#   prefix=$(tools/windows_deps.sh) &&
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DROOK_WINDOWS_DEPS="$prefix"
#
# The prefix is named by a key made of the source package versions, the
# compiler's version and this script, so a second call (a later CI stage, the
# next build) finds it built and returns at once. Environment:
# ROOK_WINDOWS_DEPS_CACHE (default build-windows-deps in the checkout),
# JOBS (default 2).
#
# A library whose sources the mirror does not serve, or that does not build,
# is left out with its reason in missing/NAME under the prefix; zlib and
# libbfio, which the others need, stop the script instead. libxml2 serves
# only wimlib: it is built only once wimlib's sources are had.
#
# Sources come only through `apt-get source`. Where the machine has no
# deb-src entry, one is added beside its Debian entries (same mirrors, suites
# and components), never in place of them, and the package lists are updated.
# Needs dpkg-dev, autoconf, automake, libtool, autopoint and the MinGW-w64 C
# compiler (g++-mingw-w64-x86-64-posix);
# root or sudo only to add the deb-src entry.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
cache=${ROOK_WINDOWS_DEPS_CACHE:-$root/build-windows-deps}
jobs=${JOBS:-2}
host=x86_64-w64-mingw32
cc=$host-gcc-posix
# Order matters: each library finds the ones before it in the prefix.
packages="zlib libdeflate libbfio libewf libxml2 wimlib"

say() { echo "windows_deps: $*" >&2; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# deb822 stanzas (*.sources) and one-line entries (*.list) of Debian's own
# archive, turned into deb-src entries in one file of our own.
add_deb_src() {
  entries=$(mktemp)
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    case $f in */rook-deb-src.sources) continue ;; esac
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /(^|\n)Types:[^\n]*deb/ && /(^|\n)URIs:[^\n]*debian/ {
           sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f"
  done >"$entries"
  if [ -s "$entries" ]; then
    as_root cp "$entries" /etc/apt/sources.list.d/rook-deb-src.sources
  fi
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    case $f in */rook-deb-src.list) continue ;; esac
    sed -n 's/^[[:space:]]*deb[[:space:]]\(.*debian.*\)/deb-src \1/p' "$f"
  done >"$entries"
  if [ -s "$entries" ]; then
    as_root cp "$entries" /etc/apt/sources.list.d/rook-deb-src.list
  fi
  rm -f "$entries"
  say "added deb-src entries beside the Debian sources; updating the package lists"
  as_root apt-get update -qq
}

# Every version of each source package the lists know, newest first: the
# mirror may not serve the newest one (a security archive without sources).
source_versions() {
  for package in $packages; do
    apt-cache showsrc --only-source "$package" | sed -n "s/^Version: /$package=/p" | sort -u -r -V
  done
}

command -v "$cc" >/dev/null || { say "no $cc (Debian package g++-mingw-w64-x86-64-posix)"; exit 2; }
command -v dpkg-source >/dev/null || { say "no dpkg-source (Debian package dpkg-dev)"; exit 2; }
if ! apt-get source --print-uris -qq zlib >/dev/null 2>&1; then
  add_deb_src
fi
versions=$(source_versions)
for package in $packages; do
  echo "$versions" | grep -q "^$package=" ||
    { say "apt-get source does not know $package"; exit 1; }
done
key=$( (echo "$versions"; "$cc" --version | head -1; cat "$0") | sha256sum | cut -c1-16)
prefix=$cache/$key
if [ -f "$prefix/.complete" ]; then
  say "reusing $prefix"
  echo "$prefix"
  exit 0
fi

say "building into $prefix"
# A prefix left half built (an interrupted run) keeps the libraries it
# finished: each is marked .built-NAME when installed.
src=$prefix/src
logs=$prefix/logs
rm -rf "$src" "$prefix/missing"
mkdir -p "$prefix/lib/pkgconfig" "$prefix/include" "$prefix/licenses" "$src" "$logs"

# Unpacks the newest version of a source package the mirror serves into a
# folder of its own.
fetch() {
  mkdir -p "$src/$1"
  for version in $(echo "$versions" | grep "^$1="); do
    if (cd "$src/$1" && apt-get source -qq "$version" >>"$logs/$1-source.log" 2>&1); then
      say "${version#*=} of $1"
      dir=$(find "$src/$1" -mindepth 1 -maxdepth 1 -type d -name "$1-*" | head -1)
      cp "$dir/debian/copyright" "$prefix/licenses/$1.copyright"
      echo "$dir"
      return
    fi
  done
  give_up "$1" "$logs/$1-source.log" "apt-get source $1 failed"
}

# A library that cannot be had or built is not worked around: its reason
# (the end of its log) goes to missing/NAME in the prefix and to standard
# error, and the libraries that do not need it go on.
give_up() {
  mkdir -p "$prefix/missing"
  { echo "$3; the end of $2:"; tail -25 "$2"; } >"$prefix/missing/$1"
  say "$(cat "$prefix/missing/$1")"
  exit 1
}

# Runs one build step, its output kept in the log; on failure the log's end
# says why, and the script stops on that library.
step() {
  name=$1
  shift
  "$@" >>"$logs/$name.log" 2>&1 || give_up "$name" "$logs/$name.log" "$name does not build for Windows"
}

build_zlib() {
  [ ! -f "$prefix/.built-zlib" ] || return 0
  dir=$(fetch zlib) || exit 1
  (cd "$dir" && step zlib env CHOST="$host" CC="$cc" AR="$host-ar" RANLIB="$host-ranlib" \
    CFLAGS="-O2 -ffunction-sections -fdata-sections" \
    ./configure --static --prefix="$prefix")
  step zlib make -C "$dir" -j "$jobs" libz.a
  step zlib make -C "$dir" install
  touch "$prefix/.built-zlib"
}

# libdeflate's Makefile names its static library for MinGW as MSVC would
# (libdeflatestatic.lib) and installs programs and a DLL too: only the static
# library is built, installed under the name the linker looks for, with the
# pkg-config file its install step would write.
build_libdeflate() {
  [ ! -f "$prefix/.built-libdeflate" ] || return 0
  dir=$(fetch libdeflate) || exit 1
  step libdeflate make -C "$dir" -j "$jobs" CC="$cc" AR="$host-ar" \
    CFLAGS="-O2 -ffunction-sections -fdata-sections" libdeflatestatic.lib
  cp "$dir/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
  cp "$dir/libdeflate.h" "$prefix/include/"
  version=$(sed -n 's/^#define LIBDEFLATE_VERSION_STRING[[:space:]]*"\(.*\)"/\1/p' "$dir/libdeflate.h")
  sed -e "s|@PREFIX@|$prefix|" -e "s|@LIBDIR@|\${prefix}/lib|" -e "s|@INCDIR@|\${prefix}/include|" \
    -e "s|@VERSION@|$version|" "$dir/libdeflate.pc.in" >"$prefix/lib/pkgconfig/libdeflate.pc"
  touch "$prefix/.built-libdeflate"
}

# Where Debian's patches change the autoconf or automake input, the build
# scripts are made anew, as Debian's own build does (dh_autoreconf).
regenerate() {
  if grep -rqE '^\+\+\+ .*(configure\.ac|Makefile\.am|\.m4)' "$2/debian/patches" 2>/dev/null; then
    (cd "$2" && step "$1" autoreconf -fi)
  fi
}

# libyal libraries: autotools with their helper libraries built in. Only the
# library and what it needs are built (no tools, bindings or manuals).
build_libyal() {
  name=$1
  shift
  [ ! -f "$prefix/.built-$name" ] || return 0
  dir=$(fetch "$name") || exit 1
  regenerate "$name" "$dir"
  (cd "$dir" && step "$name" env PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH= \
    CPPFLAGS="-I$prefix/include -I$src/compat" LDFLAGS="-L$prefix/lib" \
    CFLAGS="-O2 -ffunction-sections -fdata-sections" \
    ./configure --host="$host" CC="$cc" --prefix="$prefix" --enable-static --disable-shared \
    --disable-nls --disable-python --without-libfuse --without-openssl "$@")
  # SUBDIRS of the top Makefile up to the library itself.
  subdirs=$(printf 'rook-subdirs:\n\t@echo $(SUBDIRS)\n' | make -s -C "$dir" -f Makefile -f - rook-subdirs |
    tr -s ' ' '\n' | sed -n "1,/^$name\$/p" | tr '\n' ' ')
  step "$name" make -C "$dir" -j "$jobs" SUBDIRS="$subdirs"
  step "$name" make -C "$dir" install SUBDIRS="$subdirs"
  localize "$name"
  touch "$prefix/.built-$name"
}

# wimlib decodes the XPRESS and LZX chunks of WOF-compressed files; its
# WIM code needs libxml2, which serves nothing else. Only the library, its
# header and its pkg-config file are built: no FUSE or ntfs-3g (neither is
# on Windows), no programs, no manuals. libxml2 is built only when wimlib's
# sources are had, without the parts that reach the network or other
# libraries.
build_wimlib() {
  [ ! -f "$prefix/.built-wimlib" ] || return 0
  dir=$(fetch wimlib) || exit 1
  (build_libxml2) || give_up wimlib "$logs/libxml2.log" "wimlib needs libxml2, which does not build for Windows"
  regenerate wimlib "$dir"
  (cd "$dir" && step wimlib env PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH= \
    CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib" CFLAGS="-O2 -ffunction-sections -fdata-sections" \
    ./configure --host="$host" CC="$cc" --prefix="$prefix" --enable-static --disable-shared \
    --without-fuse --without-ntfs-3g --without-libcrypto)
  step wimlib make -C "$dir" -j "$jobs" libwim.la
  step wimlib make -C "$dir" install-libLTLIBRARIES install-includeHEADERS install-pkgconfigDATA
  rm -f "$prefix/lib/libwim.la"
  touch "$prefix/.built-wimlib"
}

build_libxml2() {
  [ ! -f "$prefix/.built-libxml2" ] || return 0
  dir=$(fetch libxml2) || exit 1
  regenerate libxml2 "$dir"
  (cd "$dir" && step libxml2 env CFLAGS="-O2 -ffunction-sections -fdata-sections" \
    ./configure --host="$host" CC="$cc" --prefix="$prefix" --enable-static --disable-shared \
    --without-python --without-zlib --without-lzma --without-iconv --without-icu \
    --without-http --without-ftp --without-modules --without-catalog --without-debug \
    --without-readline --without-history)
  step libxml2 make -C "$dir" -j "$jobs" libxml2.la
  step libxml2 make -C "$dir" install-libLTLIBRARIES install-pkgconfigDATA
  step libxml2 make -C "$dir/include" install
  rm -f "$prefix/lib/libxml2.la"
  touch "$prefix/.built-libxml2"
}

# Each libyal library carries its own copies of the helper libraries
# (libcerror, libuna, ...), each of its own age, and a DllMain. Linked side
# by side, those would clash: each library becomes one object in which only
# its own functions stay global.
#
# But rook makes the libbfio handles libewf reads, and a handle must be
# read by the libbfio copy that made it. libewf's copy of libbfio stays
# global, so it serves rook, and the shared libbfio is not linked, as on
# Linux where the first copy loaded (libewf's) serves every caller.
localize() {
  archive=$prefix/lib/$1.a
  work=$src/localize-$1
  mkdir -p "$work"
  step "$1" "$host-ld" -r -o "$work/$1.o" --whole-archive "$archive"
  if [ "$1" = libewf ]; then
    step "$1" "$host-objcopy" --wildcard --keep-global-symbol="$1_*" --keep-global-symbol="libbfio_*" "$work/$1.o"
  else
    step "$1" "$host-objcopy" --wildcard --keep-global-symbol="$1_*" "$work/$1.o"
  fi
  # MinGW reaches another file's functions and data through .refptr.NAME
  # cells, each a link-once section: one cell per name survives the link, so
  # one library's code could call another's copy of libfdata's and
  # libcdata's functions (and crash). Each library's cells get names of
  # their own.
  "$host-objdump" -h "$work/$1.o" |
    awk -v lib="$1" '$2 ~ /^\.rdata\$\.refptr\./ {
      print "--rename-section=" $2 "=" $2 "." lib; print "--redefine-sym=" $2 "=" $2 "." lib }' |
    sort -u >"$work/refptr.txt"
  if [ -s "$work/refptr.txt" ]; then
    step "$1" xargs -d '\n' -a "$work/refptr.txt" "$host-objcopy" "$work/$1.o"
  fi
  rm -f "$archive" "$prefix/lib/$1.la"
  step "$1" "$host-ar" rcs "$archive" "$work/$1.o"
}

# libyal includes a few Windows headers capitalised as the Windows SDK spells
# them; MinGW-w64 ships them in lower case, which a case-sensitive file system
# keeps apart.
mkdir -p "$src/compat"
for header in Processthreadsapi Synchapi Threadpoolapiset; do
  lower=$(echo "$header" | tr 'A-Z' 'a-z')
  echo "#include <$lower.h>" >"$src/compat/$header.h"
done

build_zlib
build_libyal libbfio
# libdeflate needs nothing: it builds beside the libyal libraries.
build_libdeflate &
pids="$!"
# The others need at most those two: they build side by side, so one's
# configure script (a single process) overlaps another's compiling. As in
# Debian's builds, libewf uses its own copy of libbfio.
build_libyal libewf --with-zlib="$prefix" --with-libbfio=no &
pids="$pids $!"
build_wimlib &
pids="$pids $!"
for pid in $pids; do wait "$pid" || true; done

# pkg-config finds the prefix wherever the cache is moved.
sed -i 's|^prefix=.*|prefix=${pcfiledir}/../..|' "$prefix"/lib/pkgconfig/*.pc
rm -rf "$src"
if [ -d "$prefix/missing" ]; then
  # Not marked complete: the next call tries the missing ones again.
  say "not built for Windows: $(ls "$prefix/missing" | tr '\n' ' ')(reasons in $prefix/missing/)"
else
  touch "$prefix/.complete"
  say "done"
fi
echo "$prefix"
