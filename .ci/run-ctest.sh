#!/usr/bin/env bash
# run-ctest.sh BUILD [CTEST OPTIONS...]: runs the tests of a build folder, then prints why each
# skipped test was skipped (the line it printed), which ctest's own summary leaves out.
set -uo pipefail
build=$1
shift
mkdir -p "$build/Testing"
report="$(cd "$build" && pwd)/Testing/run-ctest.xml"
rm -f "$report"
status=0
ctest --test-dir "$build" --output-junit "$report" "$@" || status=$?
python3 - "$report" <<'PY'
import sys
import xml.etree.ElementTree as ET
try:
    cases = ET.parse(sys.argv[1]).getroot().iter("testcase")
except (OSError, ET.ParseError):
    sys.exit(0)
for case in cases:
    if case.find("skipped") is None:
        continue
    out = (case.findtext("system-out") or "").strip().splitlines()
    reason = next((line for line in reversed(out) if "skipped" in line.lower()), out[-1] if out else "no reason printed")
    print(f"{case.get('name')} was skipped: {reason}")
PY
exit "$status"
