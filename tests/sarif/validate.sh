#!/usr/bin/env bash
# The SARIF logs of the diagnostics cases, and of runs with no result, a failure and file names
# that are not UTF-8, checked by two validators installed from npm into tests/sarif/node_modules
# (`npm ci` in tests/sarif; .ci/run does it):
#   - Microsoft's SARIF multitool (`validate`), which applies the SARIF rules. It exits 0 even on
#     an invalid log, so its own SARIF output is read: any result of level error fails, and so
#     does any warning but SARIF2005 (the tool has no web page to give as informationUri).
#   - ajv, against the SARIF 2.1.0 JSON schema the multitool ships (the multitool reads the
#     logs into its object model, which does not report every schema violation).
# Skipped (status 77) when they are not installed.
#
#   tests/sarif/validate.sh TOOL CASES_DIR
set -euo pipefail

tool=$1
cases=$2
here=$(cd "$(dirname "$0")" && pwd)
modules=$here/node_modules
multitool=$modules/@microsoft/sarif-multitool-linux/Sarif.Multitool
schema=$modules/@microsoft/sarif-multitool-linux/sarif-2.1.0.json
if [ ! -x "$multitool" ] || [ ! -f "$schema" ] || [ ! -f "$modules/ajv/dist/2020.js" ] ||
  [ ! -f "$modules/ajv-formats/dist/index.js" ] || ! command -v node >/dev/null; then
  echo "skipped: sarif-multitool not installed (run npm ci in tests/sarif)"
  exit 77
fi

# .NET without ICU (slim systems) needs the invariant culture; the logs need no other.
export DOTNET_SYSTEM_GLOBALIZATION_INVARIANT=1

work=$(mktemp -d "${TMPDIR:-/tmp}/xmlpp-sarif-validate.XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 "$here/sarif_cases.py" logs "$tool" "$cases" "$work/logs"

# The multitool reads one log holding the runs of all of them (a run's rules look at that run
# alone; one file costs far less than a hundred starts) and writes its findings as a SARIF log
# of its own. SARIF2006 (URIs reachable) is off: it fetches URIs, and the tests run offline.
python3 - "$work/all.sarif.json" "$work"/logs/*.sarif.json <<'PY'
import json, sys
logs = [json.load(open(name)) for name in sys.argv[2:]]
for name, log in zip(sys.argv[2:], logs):
    if len(log["runs"]) != 1:
        sys.exit("FAIL: %s holds %d runs" % (name, len(log["runs"])))
merged = dict(logs[0], runs=[log["runs"][0] for log in logs])
json.dump(merged, open(sys.argv[1], "w"), indent=1)
PY
"$multitool" validate "$work/all.sarif.json" --output "$work/findings.sarif" \
  --config "$here/multitool.xml" >"$work/multitool.out" 2>&1 || {
  cat "$work/multitool.out" >&2
  echo "FAIL: the multitool did not run" >&2
  exit 1
}
python3 - "$work/findings.sarif" "$work"/logs/*.sarif.json <<'PY'
import json, re, sys
findings = json.load(open(sys.argv[1]))["runs"][0]
names = [name.rsplit("/", 1)[-1] for name in sys.argv[2:]]
bad = [r for r in findings["results"]
       if r.get("level", "warning") == "error"
       or (r.get("level", "warning") == "warning" and r["ruleId"] != "SARIF2005")]
for r in bad:
    arguments = r["message"].get("arguments", [])
    run = re.match(r"runs\[(\d+)\]", arguments[0]) if arguments else None
    name = names[int(run.group(1))] if run else "the logs"
    print("FAIL: %s: %s %s %s" % (name, r["ruleId"], r.get("level", "warning"), arguments),
          file=sys.stderr)
print("multitool: %d logs, %d findings, %d of them failing"
      % (len(names), len(findings["results"]), len(bad)))
sys.exit(1 if bad else 0)
PY

# The schema: every log valid, by ajv's validator for the schema's JSON Schema draft (2020-12).
if ! AJV_MODULES=$modules node - "$schema" "$work"/logs/*.sarif.json >"$work/ajv.out" 2>&1 <<'JS'
const fs = require("fs");
const Ajv2020 = require(process.env.AJV_MODULES + "/ajv/dist/2020").default;
const addFormats = require(process.env.AJV_MODULES + "/ajv-formats");
const [schemaFile, ...logs] = process.argv.slice(2);
const ajv = new Ajv2020({ strict: false, allErrors: true });
addFormats(ajv);
const validate = ajv.compile(JSON.parse(fs.readFileSync(schemaFile, "utf8")));
let invalid = 0;
for (const log of logs) {
  if (validate(JSON.parse(fs.readFileSync(log, "utf8")))) {
    console.log(log + " valid");
  } else {
    invalid++;
    console.log(log + " invalid: " + ajv.errorsText(validate.errors));
  }
}
process.exit(invalid ? 1 : 0);
JS
then
  grep -v ' valid$' "$work/ajv.out" >&2
  echo "FAIL: a log does not match the SARIF 2.1.0 schema" >&2
  exit 1
fi
echo "schema: $(grep -c ' valid$' "$work/ajv.out") logs valid"
