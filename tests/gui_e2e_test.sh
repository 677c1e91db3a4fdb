#!/bin/bash
# End-to-end test of the window program under a private X server (Xvfb): the main window
# comes up with its title and size; "Compile" opens a log window that shows the
# compiler's output and is reused for the same input; the log window asks the window
# manager for resizing and maximising, the main window for a fixed size; "Watch" compiles
# again when the input changes; the log window lays itself out at a new size; "Open
# Output" and "Help" open the output's folder and the help page; "Browse Lua" shows its
# dialog and takes a path; an input given alone is linked to its output; closing a log
# window or the program during a run neither waits nor freezes; a log closed during a
# compile never lets that older compile replace the output of a newer one; logs and Watch
# go on while a file dialog is open; what cannot be opened is reported in a message box; a
# compiler that cannot be started is reported in one line and "Recompile" works again.
# With the real compiler it also reports (as figures, never as failures) how soon long
# outputs show and how soon a click is answered meanwhile. Screenshots of the windows are
# kept in <build>/gui-e2e/. The real akqp-cli is used when it has been built (a stand-in
# when not, or when AKQP_GUI_E2E_STANDIN is set).
#
# Exits 77 (skipped) when Xvfb, xdotool or the program is missing. Every wait is bounded,
# and the X server and every akqp started here are ended on every way out; should this
# script itself be killed, `timeout` still ends them after LIFETIME seconds.
set -u

BUILD=${AKQP_BUILD_DIR:-build}
AKQP="$BUILD/akqp"
ARTIFACTS="$BUILD/gui-e2e"
LIFETIME=280

skip() { echo "SKIP: $*"; exit 77; }
fail() {
  echo "FAIL: $*"
  local f
  for f in "$TMP"/log*.txt "$TMP"/akqp*.out; do [ -s "$f" ] && sed "s|^|  ${f##*/}: |" "$f"; done
  exit 1
}

command -v Xvfb >/dev/null 2>&1 || skip "Xvfb is not installed"
command -v xdotool >/dev/null 2>&1 || skip "xdotool is not installed"
command -v timeout >/dev/null 2>&1 || skip "timeout (coreutils) is not installed"
[ -x "$AKQP" ] || skip "$AKQP has not been built"

TMP=$(mktemp -d "${TMPDIR:-/tmp}/akqp-gui-e2e-XXXXXX") || exit 1
PIDS=()
XVFB_PID=

stop() {  # stop PID: TERM, then KILL after two seconds
  local pid=$1 i
  kill -TERM "$pid" 2>/dev/null || return 0
  for i in $(seq 20); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null
}
cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do stop "$pid"; done
  [ -n "$XVFB_PID" ] && stop "$XVFB_PID"
  rm -rf "$TMP"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# wait_for SECONDS COMMAND...: true as soon as COMMAND succeeds, false after SECONDS.
wait_for() {
  local limit=$1 end
  shift
  end=$((SECONDS + limit))
  while [ $SECONDS -le $end ]; do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# --- the X server: -displayfd picks a free display number and reports it; -noreset keeps
# it from resetting (and refusing connections for a moment) when its last client leaves.
timeout "$LIFETIME" Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$TMP/display" 2>"$TMP/xvfb.log" &
XVFB_PID=$!
wait_for 10 test -s "$TMP/display" || skip "Xvfb did not start: $(tail -1 "$TMP/xvfb.log")"
export DISPLAY=":$(head -1 "$TMP/display")"
wait_for 10 xdotool getdisplaygeometry || skip "the X server on $DISPLAY does not answer"

# --- the compiler: the real one when it has been built, else a stand-in ----------------
# The stand-in also serves the run that must outlast a closed window: it takes 3 seconds
# for a script with an endless loop, where the real compiler stops after one.
mkdir -p "$TMP/config" "$TMP/in dir" "$TMP/out" "$ARTIFACTS"
STANDIN="$TMP/standin-cli"
cat >"$STANDIN" <<'STANDIN'
#!/bin/sh
# Stands in for akqp-cli: prints its kind of lines and writes a small output file.
in=$2 out=$4
echo "Compiling '${in##*/}'..."
if grep -q 'while true' "$in"; then sleep 8; fi
if grep -q 'sys.sleep' "$in"; then sleep 0.9; fi
echo "Processing information section..."
# The output holds the script, so a test can tell which version of it was compiled.
cp "$in" "$out.tmp" && mv "$out.tmp" "$out"
echo "Compilation successful, script compiled to '${out##*/}' (0.00 KiB, CRC32: 1)."
echo ""
echo "Script execution has finished."
STANDIN
chmod +x "$STANDIN"
REAL_CLI=
if [ -x "$BUILD/akqp-cli" ] && [ -z "${AKQP_GUI_E2E_STANDIN:-}" ]; then
  unset AKQP_CLI
  REAL_CLI="$BUILD/akqp-cli"
  echo "compiler: $BUILD/akqp-cli"
else
  export AKQP_CLI="$STANDIN"
  echo "compiler: stand-in"
fi
# The module name that an output was compiled from.
module_of() {
  if [ -n "$REAL_CLI" ] && [ -x "$BUILD/qpinfo" ]; then
    "$BUILD/qpinfo" "$1" 2>/dev/null | sed -n 's/^chunk name: //p'
  else
    sed -n 's/.*name = "\([A-Za-z]*\)".*/\1/p' "$1" 2>/dev/null | head -1
  fi
}
cat >"$TMP/opener" <<OPENER
#!/bin/sh
printf '%s\n' "\$1" >>"$TMP/opened"
OPENER
chmod +x "$TMP/opener"
export AKQP_OPENER="$TMP/opener" AKQP_CONFIG_HOME="$TMP/config" NO_COLOR=1

INPUT="$TMP/in dir/demo.lua"
OUTPUT="$TMP/out/demo.qp"
cat >"$INPUT" <<'LUA'
return {
  info = { name = "GuiDemo", author = "gui e2e" },
  functions = { twice = function(x) return 2 * x end },
}
LUA

successes() { grep -c "^Compilation successful, script compiled to '" "$TMP/log.txt" 2>/dev/null; }
at_least() { [ "$(successes)" -ge "$1" ]; }
# Only mapped windows count: a dialog that is done may stay behind unmapped.
window_of() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }
window_exists() { [ -n "$(window_of "$1")" ]; }
window_gone() { [ -z "$(window_of "$1")" ]; }
geometry() { xdotool getwindowgeometry "$1" | sed -n 's/.*Geometry: //p'; }
has_geometry() { [ "$(geometry "$1")" = "$2" ]; }
count_windows() { [ "$(xdotool search --onlyvisible --name "$1" 2>/dev/null | wc -l)" -eq "$2" ]; }
click() { xdotool windowraise "$1" mousemove --window "$1" "$2" "$3" click 1; sleep 0.2; }
shot() { command -v import >/dev/null 2>&1 && import -window "$1" "$ARTIFACTS/$2" 2>/dev/null; }
# The window of a title that is not in the list of known windows given after it.
new_window_of() {
  local title=$1 w
  shift
  for w in $(xdotool search --onlyvisible --name "$title" 2>/dev/null); do
    case " $* " in *" $w "*) ;; *) echo "$w"; return 0 ;; esac
  done
  return 1
}
now() { date +%s.%N; }
seconds_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
lines_in() { [ -f "$1" ] && wc -l <"$1" || echo 0; }

# --- the main window -------------------------------------------------------------------
timeout "$LIFETIME" "$AKQP" --log-to "$TMP/log.txt" "$INPUT" "$OUTPUT" >"$TMP/akqp.out" 2>&1 &
PIDS+=($!)
MAIN_TITLE='^Ardent Kestrel QP Compiler 2$'
wait_for 10 window_exists "$MAIN_TITLE" || fail "no main window"
MAIN=$(window_of "$MAIN_TITLE")
[ "$(geometry "$MAIN")" = "450x317" ] || fail "main window is $(geometry "$MAIN"), not 450x317"
sleep 0.3
shot "$MAIN" main.png

# "Compile" (row 3, at x 370): a log window opens and the compiler's lines arrive.
click "$MAIN" 407 301
LOG_TITLE='^Compilation - demo\.lua -> demo\.qp$'
wait_for 10 window_exists "$LOG_TITLE" || fail "no log window titled 'Compilation - demo.lua -> demo.qp'"
LOG=$(window_of "$LOG_TITLE")
wait_for 20 at_least 1 || fail "the compiler's success line never reached the log"
[ -s "$OUTPUT" ] || fail "no output file"
grep -q "^Compiling 'demo.lua'\.\.\.$" "$TMP/log.txt" || fail "the log misses the 'Compiling' line"
[ "$(geometry "$LOG")" = "640x237" ] || fail "log window is $(geometry "$LOG"), not 640x237"
sleep 0.3
shot "$LOG" log.png

# The size hints: a log window may be resized and maximised (a smallest size, no largest,
# and no Motif hint that takes resizing or maximising away); the main window keeps its size.
if command -v xprop >/dev/null 2>&1; then
  hints=$(xprop -id "$LOG" WM_NORMAL_HINTS _MOTIF_WM_HINTS)
  echo "$hints" | grep -q "minimum size: 320 by 90" || fail "the log window's hints lack its smallest size: $hints"
  echo "$hints" | grep -q "maximum size" && fail "the log window has a largest size: $hints"
  motif=$(echo "$hints" | sed -n 's/^_MOTIF_WM_HINTS.*= //p')
  case "$motif" in ""|0x0,*|*"not found"*) ;; *) fail "the log window's Motif hints restrict it: $motif" ;; esac
  hints=$(xprop -id "$MAIN" WM_NORMAL_HINTS)
  echo "$hints" | grep -q "maximum size: 450 by 317" || fail "the main window is not of fixed size: $hints"
else
  echo "note: no xprop, the size hints are not tested"
fi

# "Watch" (x 480): a change of the input's modification time compiles again.
click "$LOG" 517 221
sleep 0.8
touch -d '+5 seconds' "$INPUT"
wait_for 10 at_least 2 || fail "Watch did not compile the changed input"

# "Compile" again for the same input reuses the log window.
click "$MAIN" 407 301
wait_for 10 at_least 3 || fail "a second Compile did not compile"
count_windows '^Compilation - ' 1 || fail "a second log window opened"

# The log window follows its size: "Recompile" sits 80 from the right, 27 from the bottom.
xdotool windowsize "$LOG" 800 400
wait_for 5 has_geometry "$LOG" 800x400 || fail "the log window did not resize"
sleep 0.3
click "$LOG" 757 384
wait_for 10 at_least 4 || fail "Recompile at its new place did not compile"
shot "$LOG" log-resized.png

# "Open Output" (x w - 240) opens the output's folder.
click "$LOG" 597 384
wait_for 5 grep -qx "$TMP/out" "$TMP/opened" || fail "Open Output did not open $TMP/out"

# "Close" ends the log window.
click "$LOG" 42 384
wait_for 5 window_gone "$LOG_TITLE" || fail "Close did not close the log window"

# "Help" (x 290) opens the help page beside the program.
click "$MAIN" 327 301
HELP_PAGE="$(cd "$BUILD" && pwd -P)/help/akqp.html"
[ -f "$HELP_PAGE" ] || fail "the help page was not copied to $HELP_PAGE"
wait_for 5 grep -qx "$HELP_PAGE" "$TMP/opened" || fail "Help did not open $HELP_PAGE"

# "Browse Lua" opens the file dialog with its title; a path typed into it becomes the
# input, and "Compile" then opens a log for that input.
OTHER="$TMP/in dir/other.lua"
cp "$INPUT" "$OTHER"
click "$MAIN" 407 247
DIALOG_TITLE='^Select \.lua input$'
wait_for 10 window_exists "$DIALOG_TITLE" || fail "no dialog titled 'Select .lua input'"
sleep 1
shot root browse-lua.png
DIALOG=$(window_of "$DIALOG_TITLE")
# A click into the file list gives the dialog the keyboard; "/" opens its location field
# (and is swallowed), where the whole path is then typed.
click "$DIALOG" 450 300
xdotool type --delay 50 "/"
sleep 0.5
xdotool key ctrl+a
xdotool type --delay 30 "$OTHER"
sleep 0.5
shot root browse-typed.png
# The first Return may only close the completion list.
for attempt in 1 2 3; do
  window_exists "$DIALOG_TITLE" || break
  xdotool key Return
  sleep 0.7
done
wait_for 10 window_gone "$DIALOG_TITLE" || fail "the dialog did not take the typed path"
click "$MAIN" 407 301
wait_for 10 window_exists '^Compilation - other\.lua -> demo\.qp$' || fail "the chosen input was not used"
wait_for 20 at_least 5 || fail "the chosen input did not compile"

# --- a second program started with an input alone: the output is linked to it --------
SLOW="$TMP/in dir/slow.lua"
printf 'while true do end\nreturn { info = { name = "Slow" } }\n' >"$SLOW"
AKQP_CLI="$STANDIN" timeout "$LIFETIME" "$AKQP" --log-to "$TMP/log2.txt" "$SLOW" >"$TMP/akqp2.out" 2>&1 &
PIDS+=($!)
wait_for 10 count_windows "$MAIN_TITLE" 2 || fail "no second main window"
MAIN2=$(xdotool search --onlyvisible --name "$MAIN_TITLE" | grep -vx "$MAIN" | head -1)
click "$MAIN2" 407 301
SLOW_TITLE='^Compilation - slow\.lua -> slow\.qp$'
wait_for 10 window_exists "$SLOW_TITLE" || fail "the linked output was not used: no 'slow.lua -> slow.qp' log"
# Closing while the compiler still runs neither waits for it nor freezes the program.
SLOW_LOG=$(window_of "$SLOW_TITLE")
click "$SLOW_LOG" 42 221
wait_for 5 window_gone "$SLOW_TITLE" || fail "closing a log during a run did not close it at once"
click "$MAIN2" 407 301
wait_for 5 window_exists "$SLOW_TITLE" || fail "the program did not answer after a log closed during a run"
shot "$(window_of "$SLOW_TITLE")" slow-log.png

# Closing the main window while that run still goes ends the program at once, with
# status 0. There is no window manager here, so its close message is sent directly.
if command -v python3 >/dev/null 2>&1; then
  cat >"$TMP/wm_close.py" <<'PY'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]
class Event(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]
d = x.XOpenDisplay(None)
if not d:
    sys.exit(1)
e = Event()
e.xclient.type = 33  # ClientMessage
e.xclient.window = int(sys.argv[1])
e.xclient.format = 32
e.xclient.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
e.xclient.data[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(d, e.xclient.window, 0, 0, ctypes.byref(e))
x.XFlush(d)
x.XCloseDisplay(d)
PY
  SECOND=${PIDS[1]}
  running() { kill -0 "$1" 2>/dev/null; }
  python3 "$TMP/wm_close.py" "$MAIN2" || fail "could not send the close message"
  wait_for 5 eval '! running "$SECOND"' || fail "the program did not end when its window closed during a run"
  wait "$SECOND"
  status=$?
  [ "$status" -eq 0 ] || fail "the program ended with status $status"
else
  echo "note: no python3, the program's close is not tested"
  stop "${PIDS[1]}"
fi

# --- a compiler that cannot be started: one line says so, and the log stays usable ------
AKQP_CLI="$TMP/no-such-cli" timeout "$LIFETIME" "$AKQP" --log-to "$TMP/log3.txt" "$INPUT" "$OUTPUT" \
  >"$TMP/akqp3.out" 2>&1 &
PIDS+=($!)
not_started() { [ "$(grep -c 'could not be started' "$TMP/log3.txt" 2>/dev/null)" -ge "$1" ]; }
wait_for 10 count_windows "$MAIN_TITLE" 2 || fail "no third main window"
MAIN3=$(xdotool search --onlyvisible --name "$MAIN_TITLE" | grep -vx "$MAIN" | head -1)
click "$MAIN3" 407 301
wait_for 10 not_started 1 || fail "a missing compiler was not reported"
wait_for 5 window_exists "$LOG_TITLE" || fail "no log window for the missing compiler"
LOG3=$(window_of "$LOG_TITLE")
click "$LOG3" 597 221
wait_for 5 not_started 2 || fail "Recompile was not enabled again after a failed start"
[ "$(wc -l <"$TMP/log3.txt")" -eq 2 ] || fail "a failed start printed more than its one line"

# --- a log closed during a compile: the window goes at once, and the older compile never
# replaces the output of a newer one (the next compile to that output waits for it) ----
RACE_IN="$TMP/in dir/race.lua"
RACE_OUT="$TMP/out/race.qp"
printf 'sys.sleep(900)\nreturn { info = { name = "OldModule" } }\n' >"$RACE_IN"
KNOWN_MAINS=$(xdotool search --onlyvisible --name "$MAIN_TITLE" | tr '\n' ' ')
timeout "$LIFETIME" "$AKQP" --log-to "$TMP/log4.txt" "$RACE_IN" "$RACE_OUT" >"$TMP/akqp4.out" 2>&1 &
PIDS+=($!)
wait_for 10 new_window_of "$MAIN_TITLE" $KNOWN_MAINS || fail "no main window for the race"
MAIN4=$(new_window_of "$MAIN_TITLE" $KNOWN_MAINS)
click "$MAIN4" 407 301
RACE_TITLE='^Compilation - race\.lua -> race\.qp$'
wait_for 10 window_exists "$RACE_TITLE" || fail "no log window for the race"
wait_for 10 grep -q "^Compiling 'race.lua'" "$TMP/log4.txt" || fail "the slow compile did not start"
click "$(window_of "$RACE_TITLE")" 42 221
wait_for 1 window_gone "$RACE_TITLE" || fail "Close waited for the running compile"
printf 'return { info = { name = "NewModule" } }\n' >"$RACE_IN"
click "$MAIN4" 407 301
wait_for 2 window_exists "$RACE_TITLE" || fail "the program did not answer after a log closed during a compile"
race_done() { [ "$(grep -c "^Compilation successful, script compiled to 'race.qp'" "$TMP/log4.txt")" -ge 1 ]; }
wait_for 20 race_done || fail "the new compile did not succeed"
# Both compilers have ended once the older one has had its 0.9 seconds and more.
sleep 1.5
[ "$(module_of "$RACE_OUT")" = NewModule ] ||
  fail "the output is that of the abandoned compile ($(module_of "$RACE_OUT")), not of the last one"
[ "$(grep -c '^Compiling ' "$TMP/log4.txt")" -eq 2 ] || fail "the closed log's compile was shown in the new log"
shot "$(window_of "$RACE_TITLE")" race-log.png
stop "${PIDS[-1]}"

# --- a file dialog open while a log runs: lines keep arriving, the run ends, and Watch
# compiles a changed input; the dialog opens in the current folder when the fields are
# empty and lists exactly its two filters -----------------------------------------------
TICKER="$TMP/ticker-cli"
cat >"$TICKER" <<'TICKER'
#!/bin/sh
# A compiler that takes its time: a line every tenth of a second for two seconds.
echo "Compiling '${2##*/}'..."
i=0
while [ $i -lt 20 ]; do echo "tick $i"; i=$((i + 1)); sleep 0.1; done
echo "Compilation successful, script compiled to '${4##*/}' (0.00 KiB, CRC32: 1)."
TICKER
chmod +x "$TICKER"
KNOWN_MAINS=$(xdotool search --onlyvisible --name "$MAIN_TITLE" | tr '\n' ' ')
AKQP_CLI="$TICKER" timeout "$LIFETIME" "$AKQP" --log-to "$TMP/log5.txt" "$INPUT" "$OUTPUT" \
  >"$TMP/akqp5.out" 2>&1 &
PIDS+=($!)
wait_for 10 new_window_of "$MAIN_TITLE" $KNOWN_MAINS || fail "no main window for the dialog test"
MAIN5=$(new_window_of "$MAIN_TITLE" $KNOWN_MAINS)
KNOWN_LOGS=$(xdotool search --onlyvisible --name "$LOG_TITLE" | tr '\n' ' ')
click "$MAIN5" 407 301
wait_for 10 new_window_of "$LOG_TITLE" $KNOWN_LOGS || fail "no log window for the dialog test"
LOG5=$(new_window_of "$LOG_TITLE" $KNOWN_LOGS)
ticks() { grep -c '^tick 0$' "$TMP/log5.txt" 2>/dev/null; }
wait_for 10 grep -q '^tick 2$' "$TMP/log5.txt" || fail "the slow compile shows no lines"
click "$LOG5" 517 221  # Watch
# Below the dialog, so that the screenshot shows both.
xdotool windowmove "$LOG5" 0 720
click "$MAIN5" 407 247  # Browse Lua
wait_for 10 window_exists "$DIALOG_TITLE" || fail "no dialog while a log runs"
before=$(lines_in "$TMP/log5.txt")
sleep 0.7
window_exists "$DIALOG_TITLE" || fail "the dialog closed by itself"
[ "$(lines_in "$TMP/log5.txt")" -gt "$before" ] || fail "the log stopped while the dialog was open"
wait_for 10 grep -q '^Compilation successful' "$TMP/log5.txt" || fail "the run did not end while the dialog was open"
touch -d '+10 seconds' "$INPUT"
wait_for 5 eval '[ "$(ticks)" -ge 2 ]' || fail "Watch did not compile the changed input while the dialog was open"
window_exists "$DIALOG_TITLE" || fail "the dialog closed before Watch was seen"
shot root dialog-during-run.png
# Keys go to the window under the pointer: there is no window manager to give focus.
xdotool mousemove --window "$(window_of "$DIALOG_TITLE")" 300 20
xdotool key Escape
wait_for 5 window_gone "$DIALOG_TITLE" || { xdotool key Escape; wait_for 5 window_gone "$DIALOG_TITLE"; } ||
  fail "the dialog did not close"
stop "${PIDS[-1]}"

# An empty input field: the dialog opens in the current folder (the program's own). Its
# filter list is opened for the screenshot.
KNOWN_MAINS=$(xdotool search --onlyvisible --name "$MAIN_TITLE" | tr '\n' ' ')
timeout "$LIFETIME" "$AKQP" >"$TMP/akqp6.out" 2>&1 &
PIDS+=($!)
wait_for 10 new_window_of "$MAIN_TITLE" $KNOWN_MAINS || fail "no main window without paths"
MAIN6=$(new_window_of "$MAIN_TITLE" $KNOWN_MAINS)
click "$MAIN6" 407 247
wait_for 10 window_exists "$DIALOG_TITLE" || fail "no dialog with empty fields"
sleep 1
DIALOG=$(window_of "$DIALOG_TITLE")
shot root browse-empty-fields.png
# The filter list sits at the dialog's lower right.
eval "$(xdotool getwindowgeometry --shell "$DIALOG")"
xdotool mousemove --window "$DIALOG" $((WIDTH - 60)) $((HEIGHT - 105)) click 1
sleep 0.8
shot root browse-filters.png
xdotool mousemove --window "$DIALOG" 300 20
xdotool key Escape
sleep 0.3
xdotool key Escape
wait_for 5 window_gone "$DIALOG_TITLE" || fail "the dialog with empty fields did not close"

# --- what cannot be opened is said in a message box ------------------------------------
KNOWN=$(xdotool search --onlyvisible --name "$MAIN_TITLE" | tr '\n' ' ')
AKQP_OPENER="$TMP/no-such-opener" timeout "$LIFETIME" "$AKQP" "$INPUT" "$OUTPUT" >"$TMP/akqp7.out" 2>&1 &
PIDS+=($!)
wait_for 10 new_window_of "$MAIN_TITLE" $KNOWN || fail "no main window for the message box"
MAIN7=$(new_window_of "$MAIN_TITLE" $KNOWN)
KNOWN="$KNOWN $MAIN7"
click "$MAIN7" 327 301  # Help
wait_for 5 new_window_of "$MAIN_TITLE" $KNOWN || fail "no message box when the help page cannot be opened"
BOX=$(new_window_of "$MAIN_TITLE" $KNOWN)
sleep 0.3
shot "$BOX" message-box.png
click "$BOX" 20 10
xdotool key Return
wait_for 5 eval '! new_window_of "$MAIN_TITLE" $KNOWN' || fail "the message box did not close"
stop "${PIDS[-1]}"

# --- long outputs: how soon they show and how soon a click is answered meanwhile --------
# Figures only (the machine may be busy); they need the real compiler.
if [ -n "$REAL_CLI" ]; then
  TIMED="$TMP/timed-cli"
  cat >"$TIMED" <<TIMED
#!/bin/sh
"$REAL_CLI" "\$@"
date +%s.%N >"$TMP/cli-ended"
TIMED
  cat >"$TMP/timed-opener" <<OPENER
#!/bin/sh
date +%s.%N >>"$TMP/opened-at"
OPENER
  chmod +x "$TIMED" "$TMP/timed-opener"
  LONG="$TMP/in dir/long.lua"
  echo 'return { info = { name = "Long" } }' >"$LONG"
  KNOWN_MAINS=$(xdotool search --onlyvisible --name "$MAIN_TITLE" | tr '\n' ' ')
  AKQP_CLI="$TIMED" AKQP_OPENER="$TMP/timed-opener" timeout "$LIFETIME" "$AKQP" \
    --log-to "$TMP/log8.txt" "$LONG" "$TMP/out/long.qp" >"$TMP/akqp8.out" 2>&1 &
  PIDS+=($!)
  wait_for 10 new_window_of "$MAIN_TITLE" $KNOWN_MAINS || fail "no main window for the long outputs"
  MAIN8=$(new_window_of "$MAIN_TITLE" $KNOWN_MAINS)
  shown() { tail -c 64 "$TMP/log8.txt" 2>/dev/null | grep -q 'Script execution has finished.'; }
  # Clicks "Open Output" and gives the seconds until the opener ran.
  click_latency() {
    local log=$1 t0
    rm -f "$TMP/opened-at"
    t0=$(now)
    xdotool windowraise "$log" mousemove --window "$log" 437 221 click 1
    wait_for 60 test -s "$TMP/opened-at" || { echo "none"; return; }
    seconds_between "$t0" "$(head -1 "$TMP/opened-at")"
  }
  for n in 5000 10000 20000 40000; do
    printf 'for i = 1, %d do print("line " .. i .. " of a long compile log, as long as a real message") end\nreturn { info = { name = "Long" } }\n' "$n" >"$LONG"
    rm -f "$TMP/cli-ended"
    : >"$TMP/log8.txt"
    xdotool windowraise "$MAIN8" mousemove --window "$MAIN8" 407 301
    t0=$(now)
    xdotool click 1
    during=
    if [ "$n" -eq 40000 ]; then
      # A click while the lines come in: once the first thousands are shown.
      wait_for 60 eval '[ "$(lines_in "$TMP/log8.txt")" -ge 2000 ]' || fail "the long log shows nothing"
      LONG_LOG=$(window_of '^Compilation - long\.lua -> long\.qp$')
      state="compiler running"
      [ -s "$TMP/cli-ended" ] && state="compiler ended"
      shown && state="log complete"
      during=$(click_latency "$LONG_LOG")
    fi
    wait_for 60 test -s "$TMP/cli-ended" || fail "the long compile of $n lines did not end"
    # Looked at every hundredth of a second, for two minutes at most.
    for _ in $(seq 12000); do shown && break; sleep 0.01; done
    shown || fail "the log of $n lines was not shown in full"
    t1=$(now)
    printf 'figure: %5d lines shown in full %s s after the compiler ended (%s s after Compile)' "$n" \
      "$(seconds_between "$(cat "$TMP/cli-ended")" "$t1")" "$(seconds_between "$t0" "$t1")"
    [ -n "$during" ] && printf '; a click during the run answered in %s s (at the click: %s)' \
      "$during" "$state"
    echo
  done
  [ "$(grep -c '^line ' "$TMP/log8.txt")" -eq 40000 ] || fail "the log of 40000 lines lost lines"
  echo "figure: the same click with nothing to show answered in $(click_latency "$LONG_LOG") s"
  shot "$LONG_LOG" long-log.png
  stop "${PIDS[-1]}"
fi

echo "PASS: screenshots in $ARTIFACTS"
exit 0
