#!/usr/bin/env bash
# The directive tables of docs/directives.md and of the manual page are the one `xmlpp --help`
# prints, row for row.
#   tests/docs/directive_table.sh TOOL DIRECTIVES.md xmlpp.1
set -euo pipefail
help=$("$1" --help | awk '/^Directives/ { on = 1; next } on && /^$/ { exit } on')
from_docs=$(awk '/^\| Directive and attributes \|/ { on = 1; getline; next }
  on && !/^\|/ { exit } on' "$2")
from_man=$(awk '/^\.SH DIRECTIVES/ { d = 1 } d && /^\.ft CR/ { on = 1; next } on && /^\.ft/ { exit }
  on' "$3")
as_table=$(echo "$help" | paste - - | sed -E 's/^  (.*)\t      (.*)$/| `\1` | \2 |/')
status=0
[ -n "$help" ] && [ "$as_table" = "$from_docs" ] || { diff <(echo "$from_docs") <(echo "$as_table"); status=1; }
[ "$help" = "$from_man" ] || { diff <(echo "$from_man") <(echo "$help"); status=1; }
exit "$status"
