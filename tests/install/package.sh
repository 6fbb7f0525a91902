#!/usr/bin/env bash
# Builds the Debian package from a build tree with cpack (twice: the same bytes), lists it,
# unpacks it into a temporary folder (it is never installed on this machine) and runs the packaged
# tool from there: its version, its hardening, an example through $(ZuruvaDez), and the packaged
# CMake package with Ninja.
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

# The contents: everything under /usr.
dpkg-deb -c "$deb" | awk '{ print $6 }' >"$work/contents"
for file in "${installed_files[@]}"; do
  grep -qx "\./usr/$file" "$work/contents" || fail "not in the package: /usr/$file"
done
! grep -v '^\./$\|^\./usr/' "$work/contents" || fail "files outside /usr"

# The packaged tool, run from an unpacked copy.
root=$work/root
quiet dpkg-deb -x "$deb" "$root"
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
