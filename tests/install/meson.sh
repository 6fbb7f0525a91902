#!/usr/bin/env bash
# Builds examples/meson with Meson and Ninja, the tool of the build tree on the PATH: the output
# must be right; a build with nothing changed must do nothing; editing an included file or the
# macros file must regenerate it; so must deleting an included file together with its include,
# and a build after that must do nothing. The README shows the example's meson.build as it is.
# Skipped (status 77) where meson is not installed.
#
#   tests/install/meson.sh [build-dir [cmake]]
set -euo pipefail

source "$(dirname "$0")/common.sh"

readme=$(cat "$source_dir/README.md")
[[ $readme == *"$(cat "$source_dir/examples/meson/meson.build")"* ]] ||
  fail "README.md does not show examples/meson/meson.build as it is"
command -v meson >/dev/null 2>&1 || { echo "meson is not installed: skipped"; exit 77; }

mkdir "$work/bin"
ln -s "$build_dir/driver/xmlpp" "$work/bin/xmlpp"
export PATH="$work/bin:$PATH"
src=$work/src
bld=$work/build
out=$bld/board-config.xml
cp -R "$source_dir/examples/meson" "$src"
quiet meson setup "$bld" "$src"

want() {
  {
    printf '<!DOCTYPE board>\n<board name="%s" variant="full">\n  <sensor rate="%s" />\n' "$1" "$2"
    [ -z "${3:-}" ] || printf '  <led color="%s" />\n' "$3"
    printf '</board>\n'
  } >"$work/want"
  cmp -s "$work/want" "$out" || fail "$4: unexpected $(cat "$out")"
}
no_work() {
  quiet ninja -C "$bld"
  grep -q "no work to do" "$log" || fail "$1: the build did work"
}
quiet ninja -C "$bld"
want evb2 100Hz green "first build"
no_work "nothing changed"
edit_after "$src/parts/sensor.xml" "$out" sed -i 's/100Hz/250Hz/' "$src/parts/sensor.xml"
quiet ninja -C "$bld"
want evb2 250Hz green "after editing an included file"
edit_after "$src/board.macros" "$out" sed -i 's/evb2/evb3/' "$src/board.macros"
quiet ninja -C "$bld"
want evb3 250Hz green "after editing the macros file"
rm "$src/shared/led.xml"
edit_after "$src/board.xml" "$out" sed -i '/led.xml/d' "$src/board.xml"
quiet ninja -C "$bld"
want evb3 250Hz "" "after deleting an included file"
no_work "nothing changed after the deletion"
echo "meson example: ok"
