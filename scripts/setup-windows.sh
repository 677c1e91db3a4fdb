#!/bin/sh
# Installs what the 32-bit Windows build needs, only what is missing: the mingw-w64
# cross compiler (posix thread model) with its zlib, and Wine (32-bit) to run the
# programs and the tests. Only `make windows` and `make test-windows` call it, so
# `make run` and `make test` stay as fast as before.
# Idempotent: a second run installs nothing and does not touch the package lists.
set -eu

BUILD_PACKAGES="g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix libz-mingw-w64-dev
  mingw-w64-tools dpkg-dev"
WINE_PACKAGES="wine wine32"

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing_build=""
for p in $BUILD_PACKAGES; do
  installed "$p" || missing_build="$missing_build $p"
done
missing_wine=""
for p in $WINE_PACKAGES; do
  installed "$p" || missing_wine="$missing_wine $p"
done
[ -n "$missing_build$missing_wine" ] || exit 0

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

echo "setup-windows: installing$missing_build$missing_wine (mingw-w64 is about 400 MB, Wine about 1 GB)"
# wine32 is an i386 package: the machine must accept that architecture first.
if [ -n "$missing_wine" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
if [ -n "$missing_build" ]; then
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -qq --no-install-recommends $missing_build >/dev/null
fi
if [ -n "$missing_wine" ]; then
  # With its recommended packages (fonts, the 32-bit libraries Wine loads at run time).
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -qq $missing_wine >/dev/null
fi
