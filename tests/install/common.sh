# Shared by the install tests, sourced after `set -euo pipefail` with the script's arguments:
#   [build-dir [cmake]]   (defaults: $XMLPP_BUILD_DIR or build, $CMAKE_COMMAND or cmake)
# Sets source_dir, build_dir, cmake, a temporary folder $work (removed on exit) and $log, and
# defines fail and quiet.

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
