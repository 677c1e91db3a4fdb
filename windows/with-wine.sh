#!/bin/sh
# Runs a command with one Wine prefix and one persistent Wine server shared by every
# Windows program it starts (a new prefix costs 5-6 s, a server start about 1 s, a
# program start with the persistent server about 0.03 s). Headless: no display, no Wine
# diagnostics. The server is stopped and the prefix removed afterwards, whatever happens.
#
#   windows/with-wine.sh COMMAND [ARGS...]
set -eu

command -v wine >/dev/null && command -v wineserver >/dev/null ||
  { echo "windows: Wine is missing (run scripts/setup-windows.sh)" >&2; exit 1; }

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/akqp-wine.XXXXXX")
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# The console programs need no display; tests that want one start their own.
unset DISPLAY WAYLAND_DISPLAY

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

wineserver -p
wine wineboot --init >/dev/null 2>&1 || { echo "windows: wineboot failed" >&2; exit 1; }
"$@"
