#!/usr/bin/env bash
# The manual page renders with groff without a single warning, at the usual terminal widths; given
# the tool, it also describes every option and environment variable that `xmlpp --help` lists.
#
#   tests/install/man.sh [docs/xmlpp.1 [tool]]
set -euo pipefail

page=${1:-$(dirname "$0")/../../docs/xmlpp.1}
command -v groff >/dev/null 2>&1 || { echo "FAIL: groff is not installed (groff-base)" >&2; exit 1; }

status=0
for width in 0 60 100; do
  # Width 0 leaves groff's own default line length.
  options=()
  [ "$width" -gt 0 ] && options=(-rLL="${width}n")
  warnings=$(groff -man -Tutf8 -ww "${options[@]}" "$page" 2>&1 >/dev/null) || status=1
  if [ -n "$warnings" ]; then
    echo "FAIL: groff warnings at width ${width}:" >&2
    echo "$warnings" >&2
    status=1
  fi
done
# The page names itself and has the sections a reader looks for.
text=$(groff -man -Tutf8 "$page" 2>/dev/null | sed 's/.\x08//g')
for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
  grep -q "^$section\$" <<<"$text" || { echo "FAIL: no $section section" >&2; status=1; }
done
if [ -n "${2:-}" ]; then
  for name in $("$2" --help | grep -o '^  [-A-Z_][-A-Za-z0-9_]*'); do
    grep -q -- "^ *$name\b" <<<"$text" || { echo "FAIL: $name is not described" >&2; status=1; }
  done
fi
[ "$status" = 0 ] && echo "man page: ok"
exit "$status"
