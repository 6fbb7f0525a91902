#!/usr/bin/env bash
# The project's own examples are correct files: --warn prints nothing on them, with the macros
# their documentation gives, and changes nothing in what they produce.
#
#   tests/warn_examples.sh TOOL SOURCE_DIR
set -uo pipefail

tool=$1
source=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/xmlpp-warn-examples.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0

# Runs the tool on FILE with MACROS, with and without --warn: same output, nothing on stderr.
check() {
  local file=$1 macros=$2
  "$tool" "$file" "$work/plain.xml" "$macros" 2>"$work/plain.err" || {
    echo "FAIL: $file ($macros) fails without --warn" >&2
    status=1
    return
  }
  "$tool" --warn "$file" "$work/warn.xml" "$macros" 2>"$work/warn.err"
  if [ -s "$work/warn.err" ]; then
    echo "FAIL: --warn on $file ($macros) prints:" >&2
    cat "$work/warn.err" >&2
    status=1
  fi
  cmp -s "$work/plain.xml" "$work/warn.xml" || {
    echo "FAIL: --warn changes the output of $file ($macros)" >&2
    status=1
  }
}

for board in evb1 evb2; do
  for variant in full lite; do
    check "$source/examples/board/board.xml" "BOARD=$board;VARIANT=$variant"
  done
done
check "$source/examples/cmake/config.xml" "NODE=kitchen;CHANNELS=2"
exit $status
