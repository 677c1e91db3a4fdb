#!/bin/sh
# Cross-builds the third-party libraries of the 32-bit Windows build as static libraries
# into one prefix, and prints that prefix's path as its last line.
#
# The prefix lives outside the clone, keyed by the archives' hashes and by this script
# and the toolchain file, so a second build (or a second clone) finds it and skips this
# step: ${AKQP_WIN32_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/akqp}/win32-<key>.
#
# The archives come from AKQP_THIRD_PARTY (default: ../shared/third_party beside the
# project's root) and must match windows/third_party.sha256, even when the prefix is
# already built: a missing or altered archive stops the build, naming the archive.
#
# Besides the libraries the prefix holds bin/lua.exe and bin/luac.exe (the 32-bit Lua
# the tests use as the stand-in for the host), bin/fltk-config, and the licence texts
# of every part the zip bundles in share/licenses/, and src/ a checked copy of fasm's
# source archive.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
sums="$here/third_party.sha256"
toolchain="$here/toolchain-i686-mingw32.cmake"
triple=i686-w64-mingw32
mingw_root=/usr/$triple
jobs="${AKQP_JOBS:-2}"

say() { echo "windows: $*" >&2; }
die() { say "$*"; exit 1; }

# --- the archives -----------------------------------------------------------------------
if [ -n "${AKQP_THIRD_PARTY:-}" ]; then
  third_party="$AKQP_THIRD_PARTY"
elif [ -d "$root/../shared/third_party" ]; then
  third_party="$root/../shared/third_party"
else
  die "no folder of third-party archives: set AKQP_THIRD_PARTY (the files are listed in windows/third_party.sha256)"
fi
[ -d "$third_party" ] || die "AKQP_THIRD_PARTY=$third_party is not a folder"
third_party=$(cd "$third_party" && pwd)

bad=0
while read -r want name; do
  [ -n "$name" ] || continue
  file="$third_party/$name"
  if [ ! -f "$file" ]; then
    say "missing archive: $name (looked in $third_party)"
    bad=1
    continue
  fi
  have=$(sha256sum "$file" | cut -d' ' -f1)
  if [ "$have" != "$want" ]; then
    say "altered archive: $name has SHA-256 $have, expected $want"
    bad=1
  fi
done < "$sums"
[ "$bad" = 0 ] || die "the third-party archives do not match windows/third_party.sha256; stopping"

archive() { echo "$third_party/$1"; }

# --- the cache --------------------------------------------------------------------------
command -v ${triple}-gcc-posix >/dev/null || die "${triple}-gcc-posix is missing (run scripts/setup-windows.sh)"
key=$( { cat "$sums" "$here/build-libs.sh" "$toolchain"; ${triple}-gcc-posix --version | head -n1; } |
       sha256sum | cut -c1-16)
cache="${AKQP_WIN32_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/akqp}"
prefix="$cache/win32-$key"
mkdir -p "$cache"

if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

# Two builds at the same time (two clones, two people) would write the same prefix: the
# second waits for the first and then uses its result.
exec 9>"$prefix.lock"
flock 9
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

work=$(mktemp -d "$prefix.work.XXXXXX")
log="$work/build.log"
cleanup() {
  status=$?
  if [ "$status" != 0 ]; then
    cp "$log" "$prefix.failed.log" 2>/dev/null || true
    say "library build failed; log in $prefix.failed.log (last lines:)"
    tail -n 30 "$log" >&2 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

rm -rf "$prefix"
mkdir -p "$prefix/bin" "$prefix/lib/pkgconfig" "$prefix/include" "$prefix/share/licenses"
say "building the third-party libraries for Windows into $prefix (a few minutes, once)"

run() { "$@" >>"$log" 2>&1; }

# dpkg-source applies Debian's patches; the archives were checked above and dpkg-source
# checks them against the .dsc again. It must not write into the (read-only) archive folder.
unpack_dsc() { # dsc target
  (cd "$work" && run dpkg-source --no-copy -x "$(archive "$1")" "$2")
}

cmake_lib() { # name source-dir cmake-options...
  name=$1; src=$2; shift 2
  say "  $name"
  run cmake -S "$src" -B "$work/build-$name" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DAKQP_WIN32_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@"
  run cmake --build "$work/build-$name" -j "$jobs"
  run cmake --install "$work/build-$name"
}

# The name a static library got (some projects add suffixes on Windows), as for -l.
lib_name() { # pattern
  f=$(cd "$prefix/lib" && ls $1 2>/dev/null | head -n1)
  [ -n "$f" ] || die "no library $1 in $prefix/lib"
  f=${f#lib}
  echo "${f%.a}"
}

write_pc() { # file name version cflags libs
  cat > "$prefix/lib/pkgconfig/$1.pc" <<EOF
prefix=$prefix
Name: $2
Description: $2, static, for 32-bit Windows
Version: $3
Cflags: $4
Libs: $5
EOF
}

# --- Lua 5.3.6 ----------------------------------------------------------------------------
# No CMake: the library is every C file but the two programs, with the compatibility
# switch Debian builds with. The 32-bit lua.exe and luac.exe come from the same source.
say "  lua"
unpack_dsc lua5.3_5.3.6-2.dsc lua
(
  cd "$work/lua/src"
  cflags="-O2 -DLUA_COMPAT_5_2"
  for c in *.c; do
    case $c in lua.c|luac.c) continue ;; esac
    run ${triple}-gcc-posix $cflags -c "$c" -o "${c%.c}.o"
  done
  run ${triple}-ar rcs liblua5.3.a $(ls *.o)
  run ${triple}-gcc-posix $cflags -static -s lua.c liblua5.3.a -o lua.exe
  run ${triple}-gcc-posix $cflags -static -s luac.c liblua5.3.a -o luac.exe
  mkdir -p "$prefix/include/lua5.3"
  cp lua.h luaconf.h lualib.h lauxlib.h lua.hpp "$prefix/include/lua5.3/"
  cp liblua5.3.a "$prefix/lib/"
  cp lua.exe luac.exe "$prefix/bin/"
  # Lua keeps its licence at the end of lua.h.
  sed -n '/^\* Copyright (C)/,/^\*\*\*\*\*/p' lua.h | sed 's/^\* \{0,1\}//; /^\*\*\*\*/d' \
    > "$prefix/share/licenses/Lua.txt"
)
[ -s "$prefix/share/licenses/Lua.txt" ] || die "no licence text found in lua.h"
write_pc lua5.3 Lua 5.3.6 "-I\${prefix}/include/lua5.3" "-L\${prefix}/lib -llua5.3"

# --- PCRE2 10.42 --------------------------------------------------------------------------
# Static use needs PCRE2_STATIC, else the headers ask for DLL imports.
unpack_dsc pcre2_10.42-1.dsc pcre2
cmake_lib pcre2 "$work/pcre2" -DBUILD_STATIC_LIBS=ON -DPCRE2_BUILD_PCRE2_8=ON \
  -DPCRE2_BUILD_PCRE2_16=OFF -DPCRE2_BUILD_PCRE2_32=OFF -DPCRE2_SUPPORT_JIT=ON \
  -DPCRE2_BUILD_PCRE2GREP=OFF -DPCRE2_BUILD_TESTS=OFF
write_pc libpcre2-8 PCRE2 10.42 "-DPCRE2_STATIC -I\${prefix}/include" \
  "-L\${prefix}/lib -l$(lib_name 'libpcre2-8*.a')"
cp "$work/pcre2/LICENCE" "$prefix/share/licenses/PCRE2.txt"

# --- Expat 2.5.0 --------------------------------------------------------------------------
# Debian's patches test "#if XML_DTD == 1"; CMake's config header defines the switches
# empty, so make them 1 (what the autotools build writes).
unpack_dsc expat_2.5.0-1+deb12u2.dsc expat
sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/; s/^#cmakedefine XML_NS$/#cmakedefine XML_NS 1/' \
  "$work/expat/expat/expat_config.h.cmake"
cmake_lib expat "$work/expat/expat" -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF \
  -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF \
  -DEXPAT_BUILD_PKGCONFIG=OFF -DEXPAT_BUILD_FUZZERS=OFF
write_pc expat Expat 2.5.0 "-DXML_STATIC -I\${prefix}/include" \
  "-L\${prefix}/lib -l$(lib_name 'libexpat*.a')"
cp "$work/expat/expat/COPYING" "$prefix/share/licenses/Expat.txt"

# --- zlib (Debian's libz-mingw-w64-dev) ---------------------------------------------------
[ -f "$mingw_root/lib/libz.a" ] || die "$mingw_root/lib/libz.a is missing (libz-mingw-w64-dev)"
write_pc zlib zlib "$(sed -n 's/^#define ZLIB_VERSION "\(.*\)"/\1/p' "$mingw_root/include/zlib.h")" \
  "-I$mingw_root/include" "-L$mingw_root/lib -lz"
# zlib's licence is the opening comment of zlib.h.
sed -n '1,/\*\//p' "$mingw_root/include/zlib.h" | sed 's/^\/\*  *//; s/ *\*\/$//' \
  > "$prefix/share/licenses/zlib.txt"
zlib_options="-DZLIB_LIBRARY=$mingw_root/lib/libz.a -DZLIB_INCLUDE_DIR=$mingw_root/include"

# --- libpng 1.6.39 ------------------------------------------------------------------------
unpack_dsc libpng1.6_1.6.39-2+deb12u5.dsc libpng
# shellcheck disable=SC2086
cmake_lib libpng "$work/libpng" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
  -DPNG_EXECUTABLES=OFF -DSKIP_INSTALL_PROGRAMS=ON $zlib_options
png_lib=$(lib_name 'libpng16*.a')
write_pc libpng libpng 1.6.39 "-I\${prefix}/include/libpng16" \
  "-L\${prefix}/lib -l$png_lib -L$mingw_root/lib -lz"
cp "$work/libpng/LICENSE" "$prefix/share/licenses/libpng.txt"

# --- GoogleTest 1.12.1 --------------------------------------------------------------------
unpack_dsc googletest_1.12.1-0.2.dsc googletest
cmake_lib googletest "$work/googletest" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON

# --- FLTK 1.3.8 ---------------------------------------------------------------------------
# Its png.h check only looks in CMAKE_REQUIRED_INCLUDES; the prefix's libpng and mingw's
# zlib are named outright so that nothing comes from the build machine.
say "  fltk (unpacking)"
(cd "$work" && run tar xzf "$(archive fltk-1.3.8.tar.gz)")
# shellcheck disable=SC2086
cmake_lib fltk "$work/fltk-1.3.8" -DOPTION_USE_GL=OFF -DOPTION_USE_SYSTEM_LIBJPEG=OFF \
  -DOPTION_USE_SYSTEM_ZLIB=ON -DOPTION_USE_SYSTEM_LIBPNG=ON $zlib_options \
  -DPNG_LIBRARY="$prefix/lib/lib$png_lib.a" -DPNG_PNG_INCLUDE_DIR="$prefix/include" \
  -DCMAKE_REQUIRED_INCLUDES="$prefix/include" -DFLTK_BUILD_TEST=OFF \
  -DOPTION_BUILD_HTML_DOCUMENTATION=OFF -DOPTION_BUILD_PDF_DOCUMENTATION=OFF
[ -x "$prefix/bin/fltk-config" ] || die "FLTK installed no fltk-config"
cp "$work/fltk-1.3.8/COPYING" "$prefix/share/licenses/FLTK.txt"

# --- fasm ---------------------------------------------------------------------------------
# fasm.exe itself is assembled by the project's build from this (checked) copy of the
# source; the zip carries its licence.
mkdir -p "$prefix/src"
cp "$(archive fasm-1.73.30.tar.gz)" "$prefix/src/"
(cd "$work" && run tar xzf "$(archive fasm-1.73.30.tar.gz)" fasm-1.73.30/LICENSE.TXT)
cp "$work/fasm-1.73.30/LICENSE.TXT" "$prefix/share/licenses/fasm.txt"

touch "$prefix/.complete"
rm -f "$prefix.failed.log"
say "third-party libraries ready"
echo "$prefix"
