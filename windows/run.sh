#!/bin/sh
# The Windows targets of the Makefile.
#   windows/run.sh build   the libraries (built once, then cached), the cross build in
#                          build-win32/, ending with build-win32/akqp-<version>-win32.zip
#   windows/run.sh test    the same, then every test of the cross build under Wine
# Both run inside one Wine session (windows/with-wine.sh): the build runs Windows
# programs too (the embed tool, test discovery).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
what=${1:-}
case $what in build|test) ;; *) echo "usage: windows/run.sh build|test" >&2; exit 2 ;; esac
build=${BUILD_WIN32:-build-win32}
jobs=${JOBS:-2}

if [ -z "${AKQP_IN_WINE_SESSION:-}" ]; then
  # A missing or altered archive stops everything here, with the script's message.
  prefix=$(sh windows/build-libs.sh) || exit 1
  prefix=$(echo "$prefix" | tail -n 1)
  AKQP_IN_WINE_SESSION=1 AKQP_WIN32_PREFIX="$prefix" exec sh windows/with-wine.sh sh "$0" "$what"
fi

# A build folder configured against other libraries starts again: CMake keeps what it
# found in its cache.
if [ -f "$build/CMakeCache.txt" ] &&
   ! grep -qx "AKQP_WIN32_PREFIX:PATH=$AKQP_WIN32_PREFIX" "$build/CMakeCache.txt"; then
  rm -f "$build/CMakeCache.txt"
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/windows/toolchain-i686-mingw32.cmake" \
  -DAKQP_WIN32_PREFIX="$AKQP_WIN32_PREFIX" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$jobs"
echo "windows: $(ls "$build"/akqp-*-win32.zip)"

if [ "$what" = test ]; then
  # Every case under Wine; the Windows programs start a little slower than Linux ones.
  ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300
fi
