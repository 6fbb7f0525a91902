#!/usr/bin/env bash
# Builds the Debian package from a build tree with cpack (twice: the same bytes), checks its
# control fields, copyright file, changelog and documentation links, runs lintian on it where
# installed, unpacks it into a temporary folder (it is never installed on this machine) and runs
# the packaged tool from there: its version, its hardening, an example through $(ZuruvaDez), and
# the packaged CMake package with Ninja.
#
#   tests/install/package.sh [build-dir [cmake]]   (defaults: $XMLPP_BUILD_DIR or build,
#                                                   $CMAKE_COMMAND or cmake)
set -euo pipefail

source "$(dirname "$0")/common.sh"
cpack=$(dirname "$cmake")/cpack
[ -x "$cpack" ] || cpack=cpack

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
# Two builds a second apart with SOURCE_DATE_EPOCH set give the same bytes.
export SOURCE_DATE_EPOCH=1700000000
quiet "$cpack" -B "$work/out" --config "$build_dir/CPackConfig.cmake"
debs=("$work"/out/xmlpp_"$version"-1_*.deb)
[ "${#debs[@]}" = 1 ] && [ -f "${debs[0]}" ] || fail "no package xmlpp_${version}-1_*.deb"
deb=${debs[0]}
[ "$(basename "$deb")" = "xmlpp_${version}-1_$(dpkg --print-architecture).deb" ] ||
  fail "package name $(basename "$deb")"
sleep 1.1
quiet "$cpack" -B "$work/again" --config "$build_dir/CPackConfig.cmake"
cmp -s "$deb" "$work/again/$(basename "$deb")" || fail "two builds of the package differ"
unset SOURCE_DATE_EPOCH

# The control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = xmlpp ] && [ "$(field Version)" = "$version-1" ] || fail "control fields"
# No line of the description is longer than 80 characters.
! field Description | grep -q '.\{81\}' || fail "a description line is too long"
field Depends | grep -q 'libc6' && field Depends | grep -q 'libstdc++6' ||
  fail "Depends: $(field Depends)"

# The maintainer, the copyright holders: one setting each (cmake/XmlppPackage.cmake's cache
# variables), in every field that names them; `make package` hands overrides to CMake.
cached() { sed -n "s/^$1:STRING=//p" "$build_dir/CMakeCache.txt"; }
maintainer=$(cached XMLPP_MAINTAINER)
[[ "$maintainer" =~ ^[^\<\>]+\ \<[^@\<\>]+@[^@\<\>]+\>$ ]] || fail "XMLPP_MAINTAINER '$maintainer'"
[ "$(field Maintainer)" = "$maintainer" ] || fail "Maintainer: $(field Maintainer)"
make -n -C "$source_dir" package XMLPP_MAINTAINER="A B <a@b.example>" XMLPP_COPYRIGHT="2027 C" \
  >"$log" 2>&1 || fail "make -n package"
grep -qF -- '-DXMLPP_MAINTAINER="A B <a@b.example>" -DXMLPP_COPYRIGHT="2027 C"' "$log" ||
  fail "make package does not pass XMLPP_MAINTAINER and XMLPP_COPYRIGHT to CMake"

# The contents: everything under /usr.
dpkg-deb -c "$deb" | awk '{ print $6 }' >"$work/contents"
for file in "${installed_files[@]}"; do
  grep -qx "\./usr/$file" "$work/contents" || fail "not in the package: /usr/$file"
done
! grep -v '^\./$\|^\./usr/' "$work/contents" || fail "files outside /usr"

# An unpacked copy.
root=$work/root
quiet dpkg-deb -x "$deb" "$root"

# The copyright file, in the machine-readable format: the holders as configured, and the licence
# as it stands (none granted).
doc=$root/usr/share/doc/xmlpp
copyright=$(cat "$doc/copyright")
for line in "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
  "Upstream-Contact: $maintainer" "Files: *" "Copyright: $(cached XMLPP_COPYRIGHT)" \
  "License: all-rights-reserved" \
  " No licence has been granted for xmlpp yet. All rights reserved."; do
  grep -qxF -- "$line" <<<"$copyright" || fail "copyright: no line '$line'"
done
# The changelog: one entry for this version, by the maintainer, compressed without a name or time.
gzip -t "$doc/changelog.Debian.gz" || fail "changelog.Debian.gz is not gzip"
[ "$(od -An -tx1 -j4 -N4 "$doc/changelog.Debian.gz" | tr -d ' ')" = 00000000 ] ||
  fail "changelog.Debian.gz stores a time"
gzip -dc "$doc/changelog.Debian.gz" >"$work/changelog"
quiet dpkg-parsechangelog -l "$work/changelog"
grep -qx "Version: $version-1" "$log" && grep -qx "Maintainer: $maintainer" "$log" &&
  grep -qx "Source: xmlpp" "$log" || fail "changelog: $(cat "$log")"
# Every link of the installed documentation leads to an installed file.
check_doc_links "$doc"
[ "$(readlink "$doc/examples")" = ../../xmlpp/examples ] || fail "share/doc/xmlpp/examples"

# lintian (package lintian), where installed: no error and no warning; an overridden tag is
# justified in packaging/debian/lintian-overrides.
if command -v lintian >/dev/null 2>&1; then
  lintian --info "$deb" >"$log" 2>&1 || fail "lintian failed"
  ! grep -q '^[EW]: ' "$log" || fail "lintian reports errors or warnings"
else
  echo "lintian is not installed: the lintian check is skipped"
fi

# The packaged tool, run from the unpacked copy.
tool=$root/usr/bin/xmlpp
# Hardened as distributions build: RELRO with every symbol bound at start, and libc calls
# checked against known sizes (fortified functions, named __*_chk, imported).
# (readelf's output is read whole: grep -q ending early would fail the pipeline.)
grep -q 'FLAGS.*\bNOW\b' <<<"$(readelf -d "$tool")" || fail "packaged tool: not linked with -z now"
grep -q GNU_RELRO <<<"$(readelf -lW "$tool")" || fail "packaged tool: no RELRO segment"
grep -q '__[a-z_]*_chk' <<<"$(readelf --dyn-syms -W "$tool")" || fail "packaged tool: not fortified"
[ "$("$tool" --version)" = "xmlpp $version" ] || fail "packaged tool: --version"
gzip -dc "$root/usr/share/man/man1/xmlpp.1.gz" | cmp -s - "$source_dir/docs/xmlpp.1" ||
  fail "the packaged manual page is not docs/xmlpp.1, compressed"
(cd "$root/usr/share/xmlpp/examples" &&
  "$tool" board/board.xml "$work/board.xml" "BOARD=evb2;VARIANT=full") 2>"$log" ||
  fail "packaged tool: the board example"
cmp -s "$source_dir/tests/cases/example_board/expected.xml" "$work/board.xml" ||
  fail "packaged tool: unexpected output of the board example"
# $(ZuruvaDez) is the unpacked /usr.
check_share_include "$tool"

# The packaged CMake package, with the example project.
quiet "$cmake" -S "$root/usr/share/xmlpp/examples/cmake" -B "$work/example" -G Ninja \
  -DCMAKE_PREFIX_PATH="$root/usr"
quiet "$cmake" --build "$work/example"
grep -q '<radio band="868MHz"' "$work/example/sensor-node.xml" || fail "example project output"

echo "package $(basename "$deb"): ok"
