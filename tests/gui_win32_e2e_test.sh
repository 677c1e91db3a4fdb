#!/bin/bash
# The window program of the Windows build (akqp.exe) under Wine on a private X server
# (Xvfb): the main window comes up; "Browse Lua" opens the Windows open dialog; "Compile"
# opens a log window with the lines of the real akqp-cli.exe, which writes the QP file;
# "Watch" compiles again when the input changes; closing the main window ends the program.
# Screenshots go to <build>/gui-win32-e2e/ (main.png, dialog.png, log.png, watch.png).
#
# Exits 77 (skipped) when Xvfb, xdotool, Wine or the program is missing. Every wait is
# bounded; the X server and the program are ended on every way out.
set -u

BUILD=${AKQP_BUILD_DIR:-build-win32}
ARTIFACTS="$BUILD/gui-win32-e2e"
LIFETIME=280

skip() { echo "SKIP: $*"; exit 77; }
fail() {
  echo "FAIL: $*"
  [ -s "$TMP/log.txt" ] && sed 's|^|  log: |' "$TMP/log.txt"
  [ -s "$TMP/akqp.out" ] && sed 's|^|  akqp: |' "$TMP/akqp.out"
  exit 1
}

command -v Xvfb >/dev/null 2>&1 || skip "Xvfb is not installed"
command -v xdotool >/dev/null 2>&1 || skip "xdotool is not installed"
command -v wine >/dev/null 2>&1 || skip "Wine is not installed"
[ -f "$BUILD/akqp.exe" ] || skip "$BUILD/akqp.exe has not been built"
[ -f "$BUILD/akqp-cli.exe" ] || skip "$BUILD/akqp-cli.exe has not been built"

TMP=$(mktemp -d "${TMPDIR:-/tmp}/akqp-gui-win32-XXXXXX") || exit 1
AKQP_PID=
XVFB_PID=
cleanup() {
  [ -n "$AKQP_PID" ] && kill -TERM "$AKQP_PID" 2>/dev/null
  [ -n "$XVFB_PID" ] && kill -TERM "$XVFB_PID" 2>/dev/null
  rm -rf "$TMP"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

wait_for() {  # wait_for SECONDS COMMAND...
  local end=$((SECONDS + $1))
  shift
  while [ $SECONDS -le $end ]; do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}

timeout "$LIFETIME" Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$TMP/display" 2>"$TMP/xvfb.log" &
XVFB_PID=$!
wait_for 10 test -s "$TMP/display" || skip "Xvfb did not start"
export DISPLAY=":$(head -1 "$TMP/display")"
wait_for 10 xdotool getdisplaygeometry || skip "the X server on $DISPLAY does not answer"

# Paths as the Windows program sees them: Wine's drive Z: is the root of the file system.
win() { printf 'Z:%s' "$1" | tr '/' '\\'; }
mkdir -p "$TMP/config" "$TMP/work" "$ARTIFACTS"
INPUT="$TMP/work/demo.lua"
OUTPUT="$TMP/work/demo.qp"
cat >"$INPUT" <<'LUA'
return {
  info = { name = "GuiDemo", author = "gui e2e under Wine" },
  functions = { twice = function(x) return 2 * x end },
}
LUA
export AKQP_CONFIG_HOME="$(win "$TMP/config")" AKQP_NO_MESSAGE_BOX=1 NO_COLOR=1
export WINEDEBUG=-all

successes() { grep -c "^Compilation successful, script compiled to '" "$TMP/log.txt" 2>/dev/null; }
at_least() { [ "$(successes)" -ge "$1" ]; }
window_of() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }
window_exists() { [ -n "$(window_of "$1")" ]; }
window_gone() { [ -z "$(window_of "$1")" ]; }
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; sleep 0.3; }
shot() { command -v import >/dev/null 2>&1 && import -window root "$ARTIFACTS/$1" 2>/dev/null; }

timeout "$LIFETIME" wine "$BUILD/akqp.exe" --log-to "$(win "$TMP/log.txt")" "$(win "$INPUT")" \
  "$(win "$OUTPUT")" >"$TMP/akqp.out" 2>&1 &
AKQP_PID=$!
MAIN_TITLE='^Ardent Kestrel QP Compiler 2$'
# A Wine prefix that is new starts slowly.
wait_for 90 window_exists "$MAIN_TITLE" || fail "no main window"
MAIN=$(window_of "$MAIN_TITLE")
sleep 1
shot main.png
echo "main window: $(xdotool getwindowgeometry "$MAIN" | sed -n 's/.*Geometry: //p')"

# "Browse Lua" (row 1, at x 370): the Windows open dialog, titled as asked; Escape closes it.
click "$MAIN" 407 247
DIALOG_TITLE='^Select \.lua input$'
wait_for 30 window_exists "$DIALOG_TITLE" || fail "no open dialog"
sleep 1
shot dialog.png
xdotool key --window "$(window_of "$DIALOG_TITLE")" Escape
wait_for 10 window_gone "$DIALOG_TITLE" || fail "the open dialog did not close"

# "Compile" (row 3): a log window with the compiler's lines; the QP file is written.
click "$MAIN" 407 301
LOG_TITLE='^Compilation - demo\.lua -> demo\.qp$'
wait_for 30 window_exists "$LOG_TITLE" || fail "no log window"
wait_for 60 at_least 1 || fail "the compiler's lines did not arrive"
grep -qx "Compiling 'demo.lua'..." "$TMP/log.txt" || fail "no 'Compiling' line"
grep -qx "Script execution has finished." "$TMP/log.txt" || fail "no closing line"
[ "$(head -c 4 "$OUTPUT")" = "KSQP" ] || fail "no QP file written"
LOG=$(window_of "$LOG_TITLE")
sleep 1
shot log.png

# "Watch" (x 480 on the log window's button row): saving the input compiles again.
click "$LOG" 517 221
sleep 1.5
echo "-- saved again" >>"$INPUT"
touch -d '+2 seconds' "$INPUT"
wait_for 30 at_least 2 || fail "Watch did not compile the changed input"
sleep 1
shot watch.png

# Closing the main window ends the program.
xdotool windowclose "$MAIN" 2>/dev/null || xdotool key --window "$MAIN" alt+F4
wait_for 30 eval '! kill -0 $AKQP_PID' || fail "the program did not end with its main window"
AKQP_PID=
echo "PASS: main window, open dialog, compile, log window, watch; screenshots in $ARTIFACTS"
