# Shared by the install tests, sourced after `set -euo pipefail` with the script's arguments:
#   [build-dir [cmake]]   (defaults: $XMLPP_BUILD_DIR or build, $CMAKE_COMMAND or cmake)
# Sets source_dir, build_dir, cmake, a temporary folder $work (removed on exit) and $log, and
# defines fail, quiet, check_share_include, check_doc_links and edit_after.

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_dir=$(cd "${1:-${XMLPP_BUILD_DIR:-$source_dir/build}}" && pwd)
cmake=${2:-${CMAKE_COMMAND:-cmake}}
# Run from make or with a staging variable set, the nested tools must not inherit either.
unset MAKEFLAGS MFLAGS MAKELEVEL DESTDIR CMAKE_GENERATOR

work=$(mktemp -d "${TMPDIR:-/tmp}/xmlpp-$(basename "$0" .sh)-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
log=$work/log

fail() {
  echo "FAIL: $*" >&2
  [ -s "$log" ] && cat "$log" >&2
  exit 1
}

# Runs a command with its output in $log; shows the log when it fails.
quiet() {
  "$@" >"$log" 2>&1 || fail "$*"
}

# What the install rules put under the prefix, relative to it.
installed_files=(bin/xmlpp share/man/man1/xmlpp.1.gz share/doc/xmlpp/README.md
  share/doc/xmlpp/docs/directives.md share/doc/xmlpp/docs/editors.md
  share/doc/xmlpp/ARCHITECTURE.md share/xmlpp/examples/board/board.xml
  share/xmlpp/examples/cmake/CMakeLists.txt lib/cmake/xmlpp/xmlppConfig.cmake
  lib/cmake/xmlpp/xmlppConfigVersion.cmake lib/cmake/xmlpp/xmlppTargets.cmake
  lib/cmake/xmlpp/xmlppPreprocess.cmake)

# check_share_include TOOL [NAME=VALUE...]: in $work, TOOL (with these variables in its
# environment) reads uses-share.xml, which includes an installed example through $(ZuruvaDez),
# and must write it to uses-share.out.
check_share_include() {
  local tool=$1
  shift
  cat >"$work/uses-share.xml" <<'XML'
<root><include filename="$(ZuruvaDez)/share/xmlpp/examples/cmake/parts/radio.xml"/></root>
XML
  (cd "$work" && env "$@" "$tool" uses-share.xml uses-share.out) 2>"$log" ||
    fail "$tool: \$(ZuruvaDez)"
  printf '<root>\n  <radio band="868MHz" power="10dBm" />\n</root>\n' |
    cmp -s - "$work/uses-share.out" || fail "$tool: unexpected output through \$(ZuruvaDez)"
}

# check_doc_links DOCDIR: every relative link of the installed Markdown files under DOCDIR
# ([text](path) or [text](path#anchor)) names a file or folder that exists in the installed tree;
# but the playground's, which `make playground` makes in the source tree and is not installed.
check_doc_links() {
  local doc=$1 file target count=0
  while IFS= read -r file; do
    while IFS= read -r target; do
      target=${target#*](}
      target=${target%)}
      target=${target%%#*}
      case $target in */playground/index.html | playground/index.html) continue ;; esac
      [ -e "$(dirname "$file")/$target" ] || fail "${file#"$doc"/} links $target, not installed"
      count=$((count + 1))
    done < <(grep -o '\]([^)#:]*\(#[^)]*\)\?)' "$file" || true)
  done < <(find "$doc" -name '*.md')
  [ "$count" -gt 0 ] || fail "no links found under $doc"
}

# edit_after FILE OUTPUT COMMAND...: runs COMMAND, which changes FILE, and makes sure FILE's time
# stamp ends up later than OUTPUT's (a build tool then sees the change, however coarse the file
# system's clock).
edit_after() {
  local file=$1 out=$2
  shift 2
  "$@"
  for _ in $(seq 500); do
    [ "$file" -nt "$out" ] && return 0
    sleep 0.01
    touch "$file"
  done
  fail "cannot date the edit of $file after $out"
}
