#!/bin/sh
# The same QP files from the Linux akqp-cli and from akqp-cli.exe under Wine, for every
# example and for every script the end-to-end tests compile; and the chunk stored by
# akqp-cli.exe loads and runs in the 32-bit lua.exe built from the same Lua source.
#
#   same_bytes_test.sh LINUX_BUILD WIN32_BUILD SOURCE
#
# The end-to-end tests keep their scripts in their own code, so they are harvested: the
# Linux end-to-end tests run once with a recording akqp-cli in front of the real one,
# which keeps a copy of the scratch folder and the arguments of every compile. Each
# recorded compile is then replayed twice in the same place, once by each program, and
# the two resulting folders must hold the same bytes. Logs are not compared: the order of
# the "Processing" lines differs from run to run on both systems.
# Exit status 77 (skip) when there is no Linux build to compare with.
set -eu
linux=$1 win=$2 src=$3

if [ ! -x "$linux/akqp-cli" ] || [ ! -x "$linux/qpinfo" ]; then
  echo "SKIP: no Linux build in $linux (make build)"
  exit 77
fi
for f in akqp-cli.exe qpinfo.exe tools/lua.exe fasm.exe; do
  [ -f "$win/$f" ] || { echo "FAIL: $win/$f is missing"; exit 1; }
done
linux=$(cd "$linux" && pwd) win=$(cd "$win" && pwd) src=$(cd "$src" && pwd)
wine_run="$src/windows/wine-run.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/akqp-same-bytes.XXXXXX")
trap 'rm -rf "$work"' EXIT
corpus="$work/corpus"
mkdir -p "$corpus" "$work/capture-bin" "$work/capture-tmp" "$work/replay"

# Arguments as one line of single-quoted words, for eval; the recording compiler uses it too.
cat > "$work/quote.sh" <<'EOF'
quote_args() {
  for a in "$@"; do
    printf "'%s' " "$(printf '%s' "$a" | sed "s/'/'\\\\''/g")"
  done
}
EOF
. "$work/quote.sh"

# --- the examples, recorded by hand -------------------------------------------------------
n=0
for example in "$src"/examples/*.lua; do
  n=$((n + 1))
  case_dir="$corpus/example-$n"
  mkdir -p "$case_dir/tree/config"
  cp "$src"/examples/*.lua "$case_dir/tree/"
  name=$(basename "$example" .lua)
  echo "example $name" > "$case_dir/what"
  quote_args --lua "$name.lua" --out "$name.qp" > "$case_dir/args"
  echo "$work/replay/example-$n" > "$case_dir/cwd"
done

# --- the end-to-end scripts, recorded while the Linux tests run ---------------------------
cat > "$work/capture-bin/akqp-cli" <<EOF
#!/bin/sh
# Records a compile made in a scratch folder, then runs the real compiler.
case "\$PWD/" in
  "$work/capture-tmp/"*)
    case_dir=\$(mktemp -d "$corpus/e2e.XXXXXX")
    mkdir "\$case_dir/tree"
    cp -R "\$PWD/." "\$case_dir/tree/" 2>/dev/null || true
    # Links, FIFOs and devices are POSIX kinds of file a Windows folder does not hold
    # alike, and arguments naming /dev or /proc name nothing there: such compiles are
    # left out (the Windows tests cover those rules in their own form).
    if [ -n "\$(find . \( -type l -o -type p -o -type s -o -type b -o -type c \) -print 2>/dev/null | head -n 1)" ]; then
      echo "special files in the folder" > "\$case_dir/posix-only"
    fi
    case " \$* " in
      *" /dev/"*|*" /proc/"*) echo "a device or /proc path" > "\$case_dir/posix-only" ;;
    esac
    echo "\$PWD" > "\$case_dir/cwd"
    echo "end-to-end \${AKQP_E2E_TEST:-}" > "\$case_dir/what"
    . "$work/quote.sh"
    quote_args "\$@" > "\$case_dir/args"
    ;;
esac
exec "$linux/akqp-cli" "\$@"
EOF
chmod +x "$work/capture-bin/akqp-cli"
for entry in "$linux"/*; do
  [ "$(basename "$entry")" = akqp-cli ] || ln -s "$entry" "$work/capture-bin/"
done
for test_binary in "$linux"/tests/*e2e_test; do
  [ -x "$test_binary" ] || continue
  AKQP_BUILD_DIR="$work/capture-bin" AKQP_SOURCE_DIR="$src" TMPDIR="$work/capture-tmp" \
    AKQP_E2E_TEST=$(basename "$test_binary") \
    "$test_binary" --gtest_brief=1 >"$work/capture.log" 2>&1 || true
done
recorded=$(ls "$corpus" | grep -c '^e2e' || true)
echo "recorded $recorded end-to-end compiles and $n examples"
[ "$recorded" -gt 0 ] || { echo "FAIL: no end-to-end compile was recorded"; exit 1; }

# --- replay each compile with both programs -----------------------------------------------
# A case is replayed where it was recorded (same absolute paths), into a fresh copy of its
# folder each time. The settings folder is left out of the comparison: each system writes
# its own line ends there.
place_case() { # case_dir -> prints the folder to run in
  orig=$(cat "$1/cwd")
  rm -rf "$orig"
  mkdir -p "$orig"
  cp -R "$1/tree/." "$orig/"
  echo "$orig"
}
# A Lua binary chunk a script dumps itself (string.dump) follows the machine's word size,
# so such a file is only listed, not compared.
snapshot() { # folder -> list of "checksum path", settings left out
  (cd "$1" && find . -type f ! -path './config/*' | sort | while IFS= read -r f; do
     if [ "$(head -c 4 "$f" | od -An -c | tr -d ' ')" = '033Lua' ]; then
       echo "(a Lua binary chunk)  $f"
     else
       sha256sum "$f"
     fi
   done)
}

failures=0 compared=0 qp_files=0 both_failed=0 posix_only=0
for case_dir in "$corpus"/*; do
  what=$(cat "$case_dir/what")
  if [ -f "$case_dir/posix-only" ]; then
    posix_only=$((posix_only + 1))
    continue
  fi
  eval "set -- $(cat "$case_dir/args")"
  dir=$(place_case "$case_dir")
  linux_status=0
  (cd "$dir" && AKQP_CONFIG_HOME="$dir/config" NO_COLOR=1 timeout 120 "$linux/akqp-cli" "$@" \
     >"$work/linux.log" 2>&1) || linux_status=$?
  snapshot "$dir" > "$work/linux.sum"
  rm -rf "$work/linux.tree"; cp -R "$dir" "$work/linux.tree"

  dir=$(place_case "$case_dir")
  win_status=0
  (cd "$dir" && AKQP_CONFIG_HOME="$dir/config" NO_COLOR=1 timeout 120 "$wine_run" "$win/akqp-cli.exe" "$@" \
     >"$work/win.log" 2>&1) || win_status=$?
  snapshot "$dir" > "$work/win.sum"

  compared=$((compared + 1))
  if [ "$linux_status" != 0 ] && [ "$win_status" != 0 ]; then both_failed=$((both_failed + 1)); fi
  qp_files=$((qp_files + $(grep -c '\.qp$' "$work/win.sum" || true)))
  # A script stopped at its time limit is stopped wherever it has come to, which depends
  # on the machine's load; what it leaves besides QP files is the time-limit tests'
  # concern (they assert that nothing of it runs after the limit), so here only the QP
  # files count, and another difference is shown as a note.
  limit='An execution time of one second is way too long'
  if grep -q "$limit" "$work/linux.log" && grep -q "$limit" "$work/win.log" &&
     ! cmp -s "$work/linux.sum" "$work/win.sum"; then
    echo "note: $what: stopped at the time limit on both, other files differ:"
    diff "$work/linux.sum" "$work/win.sum" | sed 's/^/  /' || true
    grep '\.qp$' "$work/linux.sum" > "$work/linux.sum.qp" || true
    grep '\.qp$' "$work/win.sum" > "$work/win.sum.qp" || true
    mv "$work/linux.sum.qp" "$work/linux.sum"
    mv "$work/win.sum.qp" "$work/win.sum"
  fi
  if ! cmp -s "$work/linux.sum" "$work/win.sum" || [ "$linux_status" != "$win_status" ]; then
    failures=$((failures + 1))
    echo "FAIL: $what: akqp-cli $(cat "$case_dir/args")"
    echo "  exit status: Linux $linux_status, Windows $win_status"
    diff "$work/linux.sum" "$work/win.sum" | sed 's/^/  /' || true
    echo "  Linux output:";   sed 's/^/    /' "$work/linux.log" | head -n 15
    echo "  Windows output:"; sed 's/^/    /' "$work/win.log" | head -n 15
  fi
  rm -rf "$(cat "$case_dir/cwd")"
done
echo "compared $compared compiles ($qp_files QP files written, $both_failed refused by both);" \
  "left out $posix_only with links, FIFOs or device paths"

# --- the stored chunk of a Windows-written file runs in lua.exe ---------------------------
# With the core library loaded first, as the host provides Kestrel to the modules.
chunks="$work/chunks"
mkdir -p "$chunks/config"
cp "$src"/examples/*.lua "$src/cli/script/core/core.lua" "$chunks/"
cat > "$chunks/run_chunk.lua" <<'EOF'
dofile("core.lua")
local f = assert(loadfile(arg[1], "b"))
local module = f()
assert(type(module) == "table" and type(module.info) == "table", "no module table")
io.write("module: ", module.info.name, "\n")
EOF
chunks_run=0
for example in "$src"/examples/*.lua; do
  name=$(basename "$example" .lua)
  if ! (cd "$chunks" && AKQP_CONFIG_HOME="$chunks/config" NO_COLOR=1 \
          "$wine_run" "$win/akqp-cli.exe" --lua "$name.lua" --out "$name.qp" >/dev/null 2>&1 &&
        "$wine_run" "$win/qpinfo.exe" --chunk "$name.luac" "$name.qp" >"$name.info" 2>&1); then
    echo "FAIL: $name: akqp-cli.exe or qpinfo.exe --chunk failed"
    failures=$((failures + 1))
    continue
  fi
  expected="module: $(tr -d '\r' < "$chunks/$name.info" | sed -n 's/^chunk name: //p')"
  got=$(cd "$chunks" && "$wine_run" "$win/tools/lua.exe" run_chunk.lua "$name.luac" 2>&1 | tr -d '\r' |
        tail -n 1) || true
  if [ "$got" != "$expected" ]; then
    echo "FAIL: $name: the stored chunk in lua.exe gave '$got', expected '$expected'"
    failures=$((failures + 1))
  fi
  chunks_run=$((chunks_run + 1))
done

echo "ran $chunks_run stored chunks written by akqp-cli.exe in lua.exe"

if [ "$failures" != 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "all the same"
