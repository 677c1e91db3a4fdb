#!/bin/bash
# `cmake --install` into a temporary prefix gives a working toolchain: every file lands
# where the README says, the installed compiler finds its include folder in
# share/akqp/asm (the routine of examples/window_module.lua includes kestrel.inc), the
# installed qpmake runs the installed compiler, and all of it still works after the tree
# has been moved. The desktop entry offers akqp for Lua scripts and the bash completion
# completes each program's options.
set -u
BUILD=${AKQP_BUILD_DIR:?}
SOURCE=${AKQP_SOURCE_DIR:?}
TMP=$(mktemp -d /tmp/akqp-install.XXXXXX)
trap 'rm -rf "$TMP"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
export AKQP_CONFIG_HOME="$TMP/config" NO_COLOR=1

cmake --install "$BUILD" --prefix "$TMP/prefix" >"$TMP/install.log" 2>&1 ||
  { cat "$TMP/install.log"; fail "cmake --install"; }
P="$TMP/prefix"
for f in bin/akqp-cli bin/qpmake bin/qpinfo share/akqp/asm/kestrel.inc share/akqp/asm/README.md \
         share/man/man1/akqp-cli.1.gz share/man/man1/qpmake.1.gz share/man/man1/qpinfo.1.gz \
         share/bash-completion/completions/akqp-cli share/bash-completion/completions/qpmake \
         share/bash-completion/completions/qpinfo share/doc/akqp/copyright; do
  [ -f "$P/$f" ] || fail "$f is not installed"
done
if [ -x "$BUILD/akqp" ]; then
  for f in bin/akqp share/akqp/help/akqp.html share/man/man1/akqp.1.gz \
           share/applications/akqp.desktop share/icons/hicolor/scalable/apps/akqp.svg; do
    [ -f "$P/$f" ] || fail "$f is not installed"
  done
  desktop="$P/share/applications/akqp.desktop"
  grep -qx 'Exec=akqp %f' "$desktop" || fail "the desktop entry does not start akqp with a file"
  grep -q '^MimeType=.*text/x-lua;' "$desktop" || fail "the desktop entry does not offer Lua scripts"
  grep -qx 'Icon=akqp' "$desktop" || fail "the desktop entry names no icon"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
  fi
fi
[ -e "$P/bin/asm" ] && fail "the include folder is installed beside the programs"

# Compiles from a folder of its own; `$1` is the prefix to use.
compile_from() {
  local prefix=$1 out
  mkdir -p "$TMP/work"
  cd "$TMP/work" || fail "cd"
  out=$("$prefix/bin/akqp-cli" --lua "$SOURCE/examples/window_module.lua" --out wm.qp 2>&1) ||
    { echo "$out"; fail "the installed akqp-cli did not compile an example that includes kestrel.inc"; }
  "$prefix/bin/qpinfo" wm.qp | grep -q 'name=clamp$' || fail "the routine is missing from the QP file"
  # %incdir% is the share folder with its separator, then the separator and "asm".
  printf '%s\n' "return { info = { name = 'i' }, assemblies = { p = { assembly = \"db '%incdir%'\" } } }" >inc.lua
  "$prefix/bin/akqp-cli" --lua inc.lua --out inc.qp >/dev/null || fail "db '%incdir%' did not compile"
  local expected="$prefix/share/akqp//asm"
  "$prefix/bin/qpinfo" inc.qp | grep -q "^code: size=${#expected} " ||
    fail "%incdir% is not $expected: $("$prefix/bin/qpinfo" inc.qp | grep '^code')"
  # qpmake runs the compiler that sits beside it.
  printf '[make]\ninc.lua = made/inc.qp\n' >inc.qpm
  PATH=/usr/bin:/bin "$prefix/bin/qpmake" inc.qpm >/dev/null 2>&1 || fail "the installed qpmake failed"
  [ -s made/inc.qp ] || fail "the installed qpmake wrote nothing"
  cd / && rm -rf "$TMP/work"
}
compile_from "$P"
mv "$P" "$TMP/moved"
compile_from "$TMP/moved"

# The completion offers each program's options, and files of the right kind for a value.
mkdir -p "$TMP/files" && touch "$TMP/files/a.lua" "$TMP/files/b.qp" "$TMP/files/c.xml"
complete_words() {  # program, words...: prints the candidates for the last word
  local program=$1; shift
  bash -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    complete -p "$1" >/dev/null || exit 1
    fn=$(complete -p "$1" | sed -n "s/.*-F \([^ ]*\).*/\1/p")
    "$fn" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}"' _ "$TMP/moved/share/bash-completion/completions/$program" "$program" "$@"
}
cd "$TMP/files" || fail "cd"
[ "$(complete_words akqp-cli --me)" = "--memory-limit" ] || fail "akqp-cli completion: options"
[ "$(complete_words akqp-cli --lua '')" = "a.lua" ] || fail "akqp-cli completion: --lua takes scripts"
[ "$(complete_words akqp-cli --verify '')" = "c.xml" ] || fail "akqp-cli completion: --verify takes XML"
[ "$(complete_words qpinfo '')" = "b.qp" ] || fail "qpinfo completion: QP files"
[ "$(complete_words qpinfo --j)" = "--json" ] || fail "qpinfo completion: options"
[ "$(complete_words qpmake --v)" = "--version" ] || fail "qpmake completion: options"
echo "install: ok"
