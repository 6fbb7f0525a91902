#!/usr/bin/env bash
# `make install` puts every installed file under $(DESTDIR)$(PREFIX), with /usr/local as the
# default prefix, and the staged tool runs. The build tree given stands for `make tool`'s.
#
#   tests/install/make_install.sh [build-dir [cmake]]
set -euo pipefail

source "$(dirname "$0")/common.sh"

make -n -C "$source_dir" -o tool install >"$log" 2>&1 || fail "make -n install"
grep -qF -- '--prefix "/usr/local"' "$log" || fail "the default prefix is not /usr/local"

stage=$work/stage
quiet make -C "$source_dir" -o tool install TOOL_BUILD="$build_dir" DESTDIR="$stage" \
  PREFIX=/opt/xmlpp
for file in "${installed_files[@]}"; do
  [ -f "$stage/opt/xmlpp/$file" ] || fail "not installed under DESTDIR and PREFIX: $file"
done
[ "$(find "$stage" -mindepth 1 -maxdepth 1)" = "$stage/opt" ] || fail "files outside PREFIX"
printf '<a b="$(B)"/>\n' >"$work/in.xml"
"$stage/opt/xmlpp/bin/xmlpp" -D B=1 -o "$work/out.xml" "$work/in.xml" || fail "the staged tool"
printf '<a b="1" />\n' | cmp -s - "$work/out.xml" || fail "the staged tool: unexpected output"
echo "make install: ok"
