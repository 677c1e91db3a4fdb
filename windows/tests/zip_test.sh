#!/bin/sh
# The zip is all a Windows user needs: unpacked into an empty folder, with nothing of the
# build or the test environment on the path or in AKQP_* variables, its programs compile
# an example with assembly routines (through the fasm.exe beside akqp-cli.exe), build a
# small makefile's targets (qpmake.exe finds akqp-cli.exe beside itself and runs its
# commands through cmd.exe) and show the result (qpinfo.exe). Runs the programs under Wine.
#
#   zip_test.sh ZIP SOURCE
set -eu
zip=$1 src=$2
[ -f "$zip" ] || { echo "FAIL: $zip is missing"; exit 1; }
zip=$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")
src=$(cd "$src" && pwd)
wine_run="$src/windows/wine-run.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/akqp-zip-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/akqp" "$work/project"
(cd "$work/akqp" && cmake -E tar xf "$zip")

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_file() { [ -f "$1" ] || fail "$1 is missing"; }

# What the zip holds.
for f in akqp-cli.exe qpmake.exe qpinfo.exe akqp.exe fasm.exe help/akqp.html README.txt \
         asm/README.md licenses/fasm.txt licenses/FLTK.txt licenses/Lua.txt \
         licenses/PCRE2.txt licenses/Expat.txt licenses/libpng.txt licenses/zlib.txt; do
  expect_file "$work/akqp/$f"
done
# Nothing else: no test programs, no libraries.
extra=$(cd "$work/akqp" && find . -type f | grep -v -e '^\./[a-z-]*\.exe$' -e '^\./asm/' \
          -e '^\./help/' -e '^\./licenses/' -e '^\./README\.txt$' || true)
[ -z "$extra" ] || fail "unexpected files in the zip: $extra"
for program in akqp-cli qpmake qpinfo akqp; do
  case $program in akqp) continue ;; esac
  [ "$(head -c 2 "$work/akqp/$program.exe")" = MZ ] || fail "$program.exe is not a Windows program"
done
crs=$(tr -cd '\r' < "$work/akqp/README.txt" | wc -c)
lfs=$(tr -cd '\n' < "$work/akqp/README.txt" | wc -c)
[ "$crs" -gt 0 ] && [ "$crs" = "$lfs" ] || fail "README.txt does not end its lines with CR LF"

# Nothing of ours on the path or in the environment; Wine's PATH is its own system folders.
for v in $(env | sed -n 's/^\(AKQP_[A-Za-z0-9_]*\)=.*/\1/p'); do unset "$v"; done
unset WINEPATH
export PATH=/usr/bin:/bin
export NO_COLOR=1

cd "$work/project"
mkdir -p src
cp "$src/examples/assembly.lua" "$src/examples/hello.lua" src/

# 1. akqp-cli.exe with assembly routines: fasm.exe beside it assembles them.
"$wine_run" ../akqp/akqp-cli.exe --lua 'src\assembly.lua' --out assembly.qp > cli.log 2>&1 ||
  fail "akqp-cli.exe failed: $(cat cli.log)"
grep -q "Compilation successful, script compiled to 'assembly.qp'" cli.log ||
  fail "akqp-cli.exe did not report its success: $(cat cli.log)"
expect_file assembly.qp

# 2. qpmake.exe: commands through cmd.exe, two targets (one into folders it creates), a
# checksum file.
printf '%s\r\n' '; a small project' '[before]' 'echo before> before.txt' \
  '[make]' 'src\hello.lua = out\qp\hello.qp' 'src/assembly.lua = out\asm.qp' \
  '[after]' 'if exist out\qp\hello.qp echo after> after.txt' \
  '[crc32]' 'out\qp\hello.qp = out\hello.crc' > project.cfg
"$wine_run" ../akqp/qpmake.exe project.cfg > make.log 2>&1 || fail "qpmake.exe failed: $(cat make.log)"
expect_file out/qp/hello.qp
expect_file out/asm.qp
[ "$(tr -d '\r\n ' < before.txt 2>/dev/null)" = before ] || fail "the 'before' command did not run"
[ "$(tr -d '\r\n ' < after.txt 2>/dev/null)" = after ] || fail "the 'after' command did not run"
# The same script gives the same file, whoever runs the compiler.
cmp -s assembly.qp out/asm.qp || fail "qpmake's out/asm.qp differs from akqp-cli.exe's assembly.qp"

# 3. qpinfo.exe checks and shows the results.
"$wine_run" ../akqp/qpinfo.exe 'out\asm.qp' > info.txt 2>&1 || fail "qpinfo.exe refused out\\asm.qp: $(cat info.txt)"
tr -d '\r' < info.txt > info.lf
grep -q '^magic: KSQP$' info.lf || fail "qpinfo.exe shows no header: $(cat info.lf)"
for routine in add3 checksum; do
  grep -q "^code: size=[1-9][0-9]* crc=0x[0-9A-Fa-f]* name=$routine$" info.lf ||
    fail "qpinfo.exe shows no machine code for $routine: $(cat info.lf)"
done
"$wine_run" ../akqp/qpinfo.exe 'out/qp/hello.qp' > hello.txt 2>&1 || fail "qpinfo.exe refused hello.qp"
signed=$(tr -d '\r' < hello.txt | sed -n 's/^file crc: 0x[0-9A-Fa-f]* (\(-\{0,1\}[0-9]*\))$/\1/p')
[ -n "$signed" ] && [ "$(cat out/hello.crc 2>/dev/null)" = "$signed" ] ||
  fail "out/hello.crc ($(cat out/hello.crc 2>/dev/null)) is not qpinfo's file CRC ($signed)"

if [ "$failures" != 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "the unpacked zip compiles, makes and inspects"
