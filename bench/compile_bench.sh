#!/usr/bin/env bash
# Whole-process times of the compiler on four jobs, each beside `luac5.3 -s` of the same
# scripts in the same run, so that the ratio holds on a busy machine:
#   hello.lua             examples/hello.lua
#   3000 functions        a generated script of 3,000 small functions
#   50 assembly routines  a generated script with 50 marked assembly routines
#   qpmake 100 targets    qpmake over 100 small scripts (against 100 runs of luac5.3)
# Every figure is the median of the runs: wall time and processor time (user + system,
# children included), in seconds. The goals are printed beside them, never checked.
#
# Usage: compile_bench [runs]   (default 5). CMake puts it beside the programs in build/;
# AKQP_BUILD_DIR and AKQP_SOURCE_DIR override where it looks.
set -u

runs=${1:-5}
case $runs in '' | *[!0-9]* | 0) echo "usage: compile_bench [runs]" >&2; exit 2 ;; esac
build_dir=${AKQP_BUILD_DIR:-$(cd "$(dirname "$0")" && pwd)}
source_dir=${AKQP_SOURCE_DIR:-@AKQP_SOURCE_DIR@}
cli=$build_dir/akqp-cli
qpmake=$build_dir/qpmake
for program in "$cli" "$qpmake"; do
  if [ ! -x "$program" ]; then echo "compile_bench: $program is not built" >&2; exit 2; fi
done
luac=$(command -v luac5.3 || true)

work=$(mktemp -d "${TMPDIR:-/tmp}/compile_bench.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
# The settings folder of these runs, so that the user's own stays as it is.
export AKQP_CONFIG_HOME=$work/config
mkdir -p "$AKQP_CONFIG_HOME"

# --- the inputs ----------------------------------------------------------------------
cp "$source_dir/examples/hello.lua" "$work/hello.lua"

awk 'BEGIN {
  print "-- 3,000 generated functions"
  print "local M = {}"
  for (i = 1; i <= 3000; i++) {
    printf "function M.f%d(a, b)\n", i
    printf "  if a > %d then return a * b + %d end\n", i % 97, i
    printf "  return \"f%d:\" .. tostring(a - b)\n", i
    print "end"
  }
  print "return { info = { name = \"Gen3000\", version = \"1.0.0\" }, functions = M }"
}' > "$work/functions.lua"

awk 'BEGIN {
  print "-- 50 generated assembly routines"
  print "local routines = {}"
  for (i = 1; i <= 50; i++) {
    printf "routines.add%d = { assembly = [[\n;ASSEMBLY\nuse32\n", i
    printf "    mov eax, [esp+4]\n    add eax, %d\n    mov edx, [esp+8]\n", i
    printf "    imul eax, edx\n    ret\n;ENDASSEMBLY\n]] }\n"
  }
  print "return { info = { name = \"Asm50\", version = \"1.0.0\" }, assemblies = routines }"
}' > "$work/assembly.lua"

mkdir -p "$work/make"
{
  printf '[make]\r\n'
  for i in $(seq 1 100); do
    sed "s/name = \"Hello\"/name = \"Hello$i\"/" "$work/hello.lua" > "$work/make/t$i.lua"
    printf 't%d.lua = out/t%d.qp\r\n' "$i" "$i"
  done
} > "$work/make/makefile.cfg"

# --- measuring -------------------------------------------------------------------------
# median of numbers
median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 }
    END { if (NR % 2) printf "%.3f", v[(NR + 1) / 2]; else printf "%.3f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# measure command...: runs the command `runs` times (output dropped) and sets WALL and
# CPU to the medians.
measure() {
  local walls=() cpus=() r t w u s
  for ((r = 0; r < runs; r++)); do
    t=$( { TIMEFORMAT='%3R %3U %3S'; time "$@" > /dev/null 2>&1; } 2>&1 | tail -n 1)
    read -r w u s <<< "$t"
    walls+=("$w")
    cpus+=("$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.3f", u + s }')")
  done
  WALL=$(median "${walls[@]}")
  CPU=$(median "${cpus[@]}")
}

compile() { "$cli" --lua "$1" --out "$2"; }
luac_each() { local f; for f in "$@"; do "$luac" -s -o "$f.luac" "$f"; done; }
make_all() { (cd "$work/make" && PATH="$build_dir:$PATH" "$qpmake" makefile.cfg); }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1f", a / b; else printf "-" }'; }

printf 'compile_bench: medians of %d runs, seconds; luac5.3 -s of the same scripts in the same run\n' "$runs"
printf '%-22s %9s %9s %9s %9s %9s %9s %7s\n' job wall cpu luac-wall luac-cpu wall/luac cpu/luac goal
report() {  # name goal
  local wall=$WALL cpu=$CPU lwall=- lcpu=-
  if [ -n "$luac" ]; then
    measure "${LUAC_CMD[@]}"
    lwall=$WALL lcpu=$CPU
  fi
  printf '%-22s %9s %9s %9s %9s %9s %9s %7s\n' "$1" "$wall" "$cpu" "$lwall" "$lcpu" \
    "$(ratio "$wall" "$lwall")" "$(ratio "$cpu" "$lcpu")" "$2"
}

# One check run each, so that a failing compile is reported rather than timed.
check() {  # name file
  if [ ! -s "$2" ]; then echo "compile_bench: $1 did not produce $2" >&2; fi
}

compile "$work/hello.lua" "$work/hello.qp" > /dev/null 2>&1
check hello.lua "$work/hello.qp"
measure compile "$work/hello.lua" "$work/hello.qp"
LUAC_CMD=(luac_each "$work/hello.lua")
report hello.lua 0.015

compile "$work/functions.lua" "$work/functions.qp" > /dev/null 2>&1
check "3000 functions" "$work/functions.qp"
measure compile "$work/functions.lua" "$work/functions.qp"
LUAC_CMD=(luac_each "$work/functions.lua")
report "3000 functions" 0.2

compile "$work/assembly.lua" "$work/assembly.qp" > /dev/null 2>&1
check "50 assembly routines" "$work/assembly.qp"
measure compile "$work/assembly.lua" "$work/assembly.qp"
LUAC_CMD=(luac_each "$work/assembly.lua")
report "50 assembly routines" -

make_all > /dev/null 2>&1
check "qpmake 100 targets" "$work/make/out/t100.qp"
measure make_all
LUAC_CMD=(luac_each "$work"/make/t*.lua)
report "qpmake 100 targets" 3
