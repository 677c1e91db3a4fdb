#!/bin/sh
# Assembles fasm.exe, the Win32 console fasm, from fasm's own source with the build
# machine's Linux fasm of the same version, so that both write the same bytes.
#
#   windows/build-fasm.sh LINUX_FASM SOURCE_ARCHIVE WORK_FOLDER OUTPUT
set -eu
fasm=$1 archive=$2 work=$3 out=$4

rm -rf "$work"
mkdir -p "$work"
tar xzf "$archive" -C "$work"
src="$work/fasm-1.73.30/SOURCE"
# The sources include each other by lower-case names; Linux file names are case-sensitive.
# Deepest first, so that a folder is renamed after its contents.
find "$src" -depth -mindepth 1 | while read -r path; do
  base=$(basename "$path")
  lower=$(echo "$base" | tr 'A-Z' 'a-z')
  [ "$base" = "$lower" ] || mv "$path" "$(dirname "$path")/$lower"
done
# -m: fasm otherwise reserves its default memory (large under some settings).
"$fasm" -m 65536 "$src/win32/fasm.asm" "$out.tmp" >"$work/fasm.log" 2>&1 ||
  { cat "$work/fasm.log" >&2; exit 1; }
mv "$out.tmp" "$out"
