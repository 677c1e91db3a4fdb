#!/bin/sh
# Installs the Debian packages the project needs, only those that are missing.
# Idempotent: a second run installs nothing and does not touch the package lists.
set -eu

PACKAGES="build-essential cmake pkg-config
  liblua5.3-dev libpcre2-dev libexpat1-dev zlib1g-dev libpng-dev
  fasm libfltk1.3-dev libgtest-dev
  lua-penlight xvfb xdotool imagemagick x11-utils xdg-utils man-db groff-base"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done

# A real 32-bit Lua 5.3, used by tests to load the chunks stored in QP files the way
# the host does. Optional: the tests that need it skip without it.
want_i386=0
if ! dpkg-query -W -f='${Status}' lua5.3:i386 2>/dev/null | grep -q "install ok installed"; then
  want_i386=1
fi

if [ -z "$missing" ] && [ "$want_i386" = 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

if [ -n "$missing" ]; then
  echo "setup: installing$missing"
  $SUDO apt-get update -qq
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

if [ "$want_i386" = 1 ]; then
  echo "setup: installing lua5.3:i386 (optional)"
  if ! dpkg --print-foreign-architectures | grep -q i386; then
    $SUDO dpkg --add-architecture i386 && $SUDO apt-get update -qq || true
  fi
  $SUDO apt-get install -y -qq --no-install-recommends lua5.3:i386 >/dev/null ||
    echo "setup: lua5.3:i386 is not available; the 32-bit load tests will be skipped"
fi
