#!/bin/bash
# The Debian package: built with cpack into a temporary folder, it declares its
# dependencies (the assembler and the libraries the programs link), holds the manual
# pages and the copyright file, and, unpacked with dpkg-deb -x, its akqp-cli compiles an
# example with assembly routines using the package's own include folder.
set -u
BUILD=${AKQP_BUILD_DIR:?}
SOURCE=${AKQP_SOURCE_DIR:?}
TMP=$(mktemp -d /tmp/akqp-package.XXXXXX)
trap 'rm -rf "$TMP"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done

(cd "$BUILD" && cpack -G DEB -B "$TMP/out") >"$TMP/cpack.log" 2>&1 ||
  { cat "$TMP/cpack.log"; fail "cpack"; }
deb=$(ls "$TMP"/out/akqp_*_amd64.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { cat "$TMP/cpack.log"; fail "no akqp_<version>_amd64.deb"; }
version=$(sed -n 's/^project(akqp VERSION \([0-9.]*\).*/\1/p' "$SOURCE/CMakeLists.txt")
[ "${deb##*/}" = "akqp_${version}_amd64.deb" ] || fail "package named ${deb##*/}"

depends=$(dpkg-deb -f "$deb" Depends)
for package in fasm liblua5.3-0 libpcre2-8-0 libexpat1 zlib1g libc6 libstdc++6; do
  [[ ", $depends," == *", $package"[\ ,]* ]] || fail "Depends does not name $package: $depends"
done
dpkg-deb -I "$deb" | grep -q "^ Depends: .*fasm" || fail "dpkg-deb -I shows no dependencies"

contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/akqp-cli ./usr/bin/qpmake ./usr/bin/qpinfo ./usr/share/doc/akqp/copyright \
         ./usr/share/doc/akqp/changelog.gz ./usr/share/man/man1/akqp-cli.1.gz \
         ./usr/share/man/man1/qpmake.1.gz ./usr/share/man/man1/qpinfo.1.gz \
         ./usr/share/akqp/asm/kestrel.inc; do
  grep -q " $f\$" <<<"$contents" || fail "the package holds no $f"
done
grep -q ' root/root ' <<<"$contents" || fail "the files do not belong to root"

dpkg-deb -x "$deb" "$TMP/root" || fail "dpkg-deb -x"
mkdir -p "$TMP/work" && cd "$TMP/work" || fail "cd"
export AKQP_CONFIG_HOME="$TMP/config" NO_COLOR=1
for example in assembly window_module; do
  out=$("$TMP/root/usr/bin/akqp-cli" --lua "$SOURCE/examples/$example.lua" --out "$example.qp" 2>&1) ||
    { echo "$out"; fail "the unpacked akqp-cli did not compile examples/$example.lua"; }
  grep -q "^Compilation successful, script compiled to '$example.qp'" <<<"$out" || fail "$out"
done
"$TMP/root/usr/bin/qpinfo" window_module.qp | grep -q 'name=clamp$' || fail "no machine code"
echo "package: ok"
