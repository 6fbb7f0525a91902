#!/usr/bin/env bash
# Installs xmlpp from a build tree into a temporary prefix and checks the installed layout, then
# configures and builds examples/cmake against that prefix (find_package(xmlpp CONFIG) and
# xmlpp_preprocess) with the Ninja and with the Unix Makefiles generator: the output must be right,
# an unchanged tree must not rebuild it, editing a file that the input includes must regenerate it,
# and so must deleting an included file together with its include, after which a build does
# nothing (with Unix Makefiles, after the README's workaround); a failure shows in the build
# log with its location. Last, the OPTIONS of xmlpp_preprocess, its INCLUDE_DIRS, DEFINES and
# MACROS_FILE (a changed macros file regenerates the output), and the command database it writes.
#
#   tests/install/run.sh [build-dir [cmake]]   (defaults: $XMLPP_BUILD_DIR or build, $CMAKE_COMMAND
#                                               or cmake)
set -euo pipefail

source "$(dirname "$0")/common.sh"

# --- The installed layout -------------------------------------------------------------------------
prefix=$work/prefix
quiet "$cmake" --install "$build_dir" --prefix "$prefix"
for file in "${installed_files[@]}"; do
  [ -f "$prefix/$file" ] || fail "not installed: $file"
done
[ -x "$prefix/bin/xmlpp" ] || fail "bin/xmlpp is not executable"
check_doc_links "$prefix/share/doc/xmlpp"

# The installed tool finds the installed files through $(ZuruvaDez) and lists them in the
# dependency file by the path it opened.
prefix_real=$(cd "$prefix" && pwd -P)
check_share_include "$prefix/bin/xmlpp" XMLPP_DEPFILE=uses-share.d
printf 'uses-share.out: uses-share.xml %s/share/xmlpp/examples/cmake/parts/radio.xml\n%s:\n' \
  "$prefix_real" "$prefix_real/share/xmlpp/examples/cmake/parts/radio.xml" >"$work/want"
cmp -s "$work/want" "$work/uses-share.d" || fail "installed tool: unexpected dependency file"

# --- The example project, with each generator -----------------------------------------------------
expected() {
  cat <<XML
<?xml  version="1.0" encoding="UTF-8" ?>
<!DOCTYPE node>
<node name="kitchen">
XML
  [ -n "${2:-}" ] || echo '  <radio band="868MHz" power="10dBm" />'
  cat <<XML
  <channel id="ch0" input="adc0" rate="$1" />
  <channel id="ch1" input="adc1" rate="$1" />
</node>
XML
}

for generator in Ninja "Unix Makefiles"; do
  name=${generator// /-}
  src=$work/src-$name
  bld=$work/build-$name
  out=$bld/sensor-node.xml
  cp -R "$source_dir/examples/cmake" "$src"

  quiet "$cmake" -S "$src" -B "$bld" -G "$generator" -DCMAKE_PREFIX_PATH="$prefix"
  ! grep -q "CMake Warning\|CMake Deprecation" "$log" || fail "$generator: configure warned"
  grep -qx "xmlpp_DIR:PATH=$prefix/lib/cmake/xmlpp" "$bld/CMakeCache.txt" ||
    fail "$generator: the package was not found in the prefix"
  quiet "$cmake" --build "$bld"
  expected 100Hz >"$work/want"
  cmp -s "$work/want" "$out" || fail "$generator: first build: unexpected $out"

  # Nothing changed: the output stays as it is.
  stamp=$(stat -c %y "$out")
  quiet "$cmake" --build "$bld"
  [ "$(stat -c %y "$out")" = "$stamp" ] || fail "$generator: rebuilt without a change"

  # Edit an included file.
  edit_after "$src/parts/channel.xml" "$out" sed -i 's/100Hz/250Hz/' "$src/parts/channel.xml"
  quiet "$cmake" --build "$bld"
  expected 250Hz >"$work/want"
  cmp -s "$work/want" "$out" || fail "$generator: not regenerated after editing an included file"

  # Delete an included file together with its include.
  rm "$src/parts/radio.xml"
  edit_after "$src/config.xml" "$out" sed -i '/parts\/radio.xml/d' "$src/config.xml"
  quiet "$cmake" --build "$bld"
  expected 250Hz without-radio >"$work/want"
  cmp -s "$work/want" "$out" || fail "$generator: not regenerated after deleting an included file"
  # Nothing changed since: the output stays as it is. The Makefile generators keep the deleted
  # file in the target's merged dependency list, so there the README's workaround comes first.
  if [ "$generator" = "Unix Makefiles" ]; then
    dir=$bld/CMakeFiles/sensor_node_config.dir
    rm -f "$dir/compiler_depend.internal" "$dir/compiler_depend.make"
    quiet "$cmake" "$bld"
  fi
  stamp=$(stat -c %y "$out")
  quiet "$cmake" --build "$bld"
  [ "$(stat -c %y "$out")" = "$stamp" ] || fail "$generator: rebuilt after the deletion without a change"

  # A failure in an included file: the log says where, in the gnu form (the default). The radio
  # include was deleted above, so the include is on line 7 of config.xml.
  edit_after "$src/parts/channel.xml" "$out" sed -i 's|/>$|>\n  <define/>\n</channel>|' \
    "$src/parts/channel.xml"
  ! "$cmake" --build "$bld" >"$log" 2>&1 || fail "$generator: a failing run built"
  for line in "$src/parts/channel.xml:2:3: error: missing name in <define>" \
    "$src/config.xml:7:5: note: included from here"; do
    grep -qF -- "$line" "$log" || fail "$generator: the build log lacks '$line'"
  done
done

# --- OPTIONS: other options replace --diagnostics=gnu; OPTIONS alone passes none -----------------
src=$work/src-options
mkdir -p "$src"
cat >"$src/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(options NONE)
find_package(xmlpp CONFIG REQUIRED)
xmlpp_preprocess(OUTPUT strict.xml INPUT in.xml OPTIONS --strict)
xmlpp_preprocess(OUTPUT plain.xml INPUT in.xml OPTIONS)
add_custom_target(strict DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/strict.xml)
add_custom_target(plain DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/plain.xml)
xmlpp_preprocess(OUTPUT warned.xml INPUT in.xml WARN)
xmlpp_preprocess(OUTPUT checked.xml INPUT in.xml STRICT)
add_custom_target(warned DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/warned.xml)
add_custom_target(checked DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/checked.xml)
CMAKE
printf '<root>\n  <item name="$(NAME)"/>\n</root>\n' >"$src/in.xml"
quiet "$cmake" -S "$src" -B "$work/build-options" -G Ninja -DCMAKE_PREFIX_PATH="$prefix"
! "$cmake" --build "$work/build-options" --target strict >"$log" 2>&1 || fail "OPTIONS --strict built"
grep -qF "xmlpp: unresolved \$(NAME) in attribute name of <item>" "$log" ||
  fail "OPTIONS --strict: no strict error in the log"
"$cmake" --build "$work/build-options" --target warned >"$log" 2>&1 || fail "WARN: not built"
grep -qF "in.xml:2:3: warning: unresolved \$(NAME) in attribute name of <item> [unresolved-macro]" \
  "$log" || fail "WARN: no warning in the log"
! "$cmake" --build "$work/build-options" --target checked >"$log" 2>&1 || fail "STRICT built"
grep -qF "in.xml:2:3: error: unresolved \$(NAME) in attribute name of <item> [unresolved-macro]" "$log" ||
  fail "STRICT: no strict error in the log"
quiet "$cmake" --build "$work/build-options" --target plain
printf '<root>\n  <item name="$(NAME)" />\n</root>\n' >"$work/want"
cmp -s "$work/want" "$work/build-options/plain.xml" || fail "OPTIONS alone: unexpected output"
printf '<root>\n  <define/>\n</root>\n' >"$src/in.xml"
! "$cmake" --build "$work/build-options" --target plain >"$log" 2>&1 || fail "OPTIONS: built"
grep -qF "XmlPP::processConditionals(): missing name in <define>" "$log" ||
  fail "OPTIONS alone: no message in the text form in the log"
grep -qF "  at $src/in.xml:2" "$log" || fail "OPTIONS alone: no location in the log"

# --- INCLUDE_DIRS, DEFINES, MACROS_FILE ------------------------------------------------------------
src=$work/src-macros
mkdir -p "$src/shared" "$src/more"
cat >"$src/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(macros NONE)
find_package(xmlpp CONFIG REQUIRED)
xmlpp_preprocess(OUTPUT out.xml INPUT in.xml MACROS "A=list;B=list;C=list"
  MACROS_FILE board.macros INCLUDE_DIRS more shared DEFINES C=define D)
add_custom_target(macros ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/out.xml)
CMAKE
printf '<r a="$(A)" b="$(B)" c="$(C)" d="$(D)">\n  <include filename="part.xml"/>\n</r>\n' \
  >"$src/in.xml"
printf '<part/>\n' >"$src/shared/part.xml"
printf '# board\nB=file;x\nC=file\n' >"$src/board.macros"
bld=$work/build-macros
quiet "$cmake" -S "$src" -B "$bld" -G Ninja -DCMAKE_PREFIX_PATH="$prefix"
quiet "$cmake" --build "$bld"
want_macros() {
  printf '<r a="list" b="%s" c="define" d="">\n  <part/>\n</r>\n' "$1" >"$work/want"
  cmp -s "$work/want" "$bld/out.xml" || fail "macros: $2: unexpected $(cat "$bld/out.xml")"
}
want_macros 'file;x' "first build"
generator=macros
edit_after "$src/board.macros" "$bld/out.xml" sed -i 's/B=file;x/B=changed/' "$src/board.macros"
quiet "$cmake" --build "$bld"
want_macros changed "after changing the macros file"

# --- The command database: one object per output, from every directory ---------------------------
mkdir -p "$src/sub"
cat >>"$src/CMakeLists.txt" <<'CMAKE'
add_subdirectory(sub)
CMAKE
cat >"$src/sub/CMakeLists.txt" <<'CMAKE'
xmlpp_preprocess(OUTPUT gen/doc.xml INPUT doc.xml DOCTYPE board STRICT
  MACROS "E=1;Q=say \"hi\" a\\\\b")
add_custom_target(doc ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/gen/doc.xml)
CMAKE
printf '<d e="$(E)" q="$(Q)"/>\n' >"$src/sub/doc.xml"
quiet "$cmake" "$bld"
quiet "$cmake" --build "$bld"
python3 - "$src" "$bld" "$prefix/bin/xmlpp" "$work/replay" >"$log" 2>&1 <<'PYTHON' ||
import json, subprocess, sys
src, bld, tool, replay = sys.argv[1:]
with open(f"{bld}/xmlpp_commands.json", encoding="utf-8") as f:
    commands = json.load(f)
out, doc = f"{bld}/out.xml", f"{bld}/sub/gen/doc.xml"
want = [
    {"directory": bld, "file": f"{src}/in.xml", "output": out,
     "arguments": ["xmlpp", "--diagnostics=gnu", "--macros-file", f"{src}/board.macros",
                   "-I", f"{src}/more", "-I", f"{src}/shared", "-D", "C=define", "-D", "D",
                   "-MF", f"{out}.d", "-o", out, "--", f"{src}/in.xml", "A=list;B=list;C=list"]},
    {"directory": f"{bld}/sub", "file": f"{src}/sub/doc.xml", "output": doc,
     "arguments": ["xmlpp", "--diagnostics=gnu", "--strict", "-MF", f"{doc}.d", "-o", doc, "--",
                   f"{src}/sub/doc.xml", 'E=1;Q=say "hi" a\\\\b', "board"]},
]
if commands != want:
    sys.exit(f"unexpected command database:\n{json.dumps(commands, indent=1)}")
# Each command, run as recorded (into another output), writes what the build wrote.
for command in commands:
    args = [tool] + command["arguments"][1:]
    args[args.index("-o") + 1] = replay
    args[args.index("-MF") + 1] = replay + ".d"
    subprocess.run(args, cwd=command["directory"], check=True)
    with open(replay, "rb") as a, open(command["output"], "rb") as b:
        if a.read() != b.read():
            sys.exit(f"{command['output']}: the recorded command writes something else")
PYTHON
  fail "command database"
grep -qF '<d e="1" q="say &quot;hi&quot; a\b" />' "$bld/sub/gen/doc.xml" || fail "sub/gen/doc.xml"

echo "install and CMake package: ok"
