#!/usr/bin/env python3
"""The SARIF form against the gnu form, over the end-to-end cases about diagnostics.

  sarif_cases.py match TOOL CASES_DIR       every case, run with --diagnostics=gnu and with
                                            --diagnostics=sarif, reports the same diagnostics
  sarif_cases.py logs TOOL CASES_DIR OUT    writes each case's log, and those of a few runs
                                            made here, to OUT/<name>.sarif.json (for a validator)

The cases are those of the checks and of failures with locations (warn_*, strict_*, gnu_*,
locations_*, error_*, root_*) that the runner runs from an args file. For each, the gnu lines
are read with the problem-matcher pattern editors use for gcc-style output, and each SARIF result
must match its line: rule id (the [NAME], or "failure"), level, message, file, line and column
(converted here to code points on its own), and the "included from"/"put from" notes as related
locations, in order. Standard error must hold the log and nothing else, and the exit status must
be the gnu run's.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.parse

# The pattern of the gcc-style problem matchers of editors and CI (VS Code's $gcc and the like).
PROBLEM = re.compile(r"^(.*?):(\d+):(\d*):?\s+(?:fatal\s+)?(warning|error):\s+(.*)$")
NOTE = re.compile(r"^(.*?):(\d+):(\d*):?\s+note:\s+(.*)$")
PLACELESS = re.compile(r"^xmlpp: (warning|error): (.*)$")
FIX_IT = re.compile(r'^fix-it:"(.*)":\{(\d+):(\d+)-(\d+):(\d+)\}:"(.*)"$')
NAMED = re.compile(r"^(.*) \[([a-z0-9-]+)\]$")
PREFIXES = ("warn_", "strict_", "gnu_", "locations_", "error_", "root_")


def json_text(data: bytes) -> str:
    """What the tool's jsonText gives: UTF-8 kept, every other byte as \\xHH."""
    text = data.decode("utf-8", "surrogateescape")
    return "".join("\\x%02X" % (ord(c) - 0xDC00) if 0xDC80 <= ord(c) <= 0xDCFF else c
                   for c in text)


def code_point_column(path: str, line: int, byte_column: int):
    """The column in code points of a byte column (from 1) of line `line` (from 1)."""
    with open(path, "rb") as f:
        data = f.read()
    lines = re.split(rb"\r\n|\r|\n", data)
    text = lines[line - 1][: byte_column - 1]
    # surrogateescape makes each byte outside a well-formed sequence one code point.
    return len(text.decode("utf-8", "surrogateescape")) + 1


def case_runs(cases_dir):
    for name in sorted(os.listdir(cases_dir)):
        folder = os.path.join(cases_dir, name)
        if not name.startswith(PREFIXES) or not os.path.isfile(os.path.join(folder, "args")):
            continue
        if os.path.exists(os.path.join(folder, "install")):
            continue  # run from an installed copy; the runner covers it
        yield name, folder


def prepare(folder, work):
    """A fresh copy of the case in `work` and its arguments without a --diagnostics option."""
    shutil.copytree(folder, work, symlinks=True)
    with open(os.path.join(folder, "args"), encoding="utf-8", errors="surrogateescape") as f:
        args = [a.replace("@WORK@", work) for a in f.read().split("\n")]
    if args and args[-1] == "":
        args.pop()
    if os.path.exists(os.path.join(work, "setup")):
        subprocess.run(["sh", "setup"], cwd=work, check=True)
    return [a for a in args if not a.startswith("--diagnostics=")]


def run(tool, args, work, folder):
    env = {k: v for k, v in os.environ.items() if k not in ("XMLPP_DEPFILE", "SOURCE_DATE_EPOCH")}
    env_file = os.path.join(folder, "env")
    if os.path.exists(env_file):
        for line in open(env_file).read().splitlines():
            key, _, value = line.partition("=")
            env[key] = value.replace("@WORK@", work)
    stdin_path = os.path.join(folder, "stdin")
    stdin = open(stdin_path, "rb") if os.path.exists(stdin_path) else subprocess.DEVNULL
    result = subprocess.run([tool] + [a.encode("utf-8", "surrogateescape") for a in args],
                            cwd=work, env=env, stdin=stdin, capture_output=True)
    return result.returncode, result.stderr


def gnu_diagnostics(stderr: bytes, problems):
    """The diagnostics of the gnu lines: dicts of rule, level, message, place, notes."""
    found = []
    for raw in stderr.split(b"\n")[:-1]:
        line = raw.decode("utf-8", "surrogateescape")
        fix = FIX_IT.match(line)
        if fix and found:
            found[-1]["fixes"].append((fix.group(1), int(fix.group(2)), int(fix.group(3)),
                                       int(fix.group(5)), fix.group(6)))
            continue
        note = NOTE.match(line)
        if note and found:
            found[-1]["notes"].append((note.group(1), int(note.group(2)),
                                       int(note.group(3) or 0), note.group(4)))
            continue
        matched = PROBLEM.match(line)
        if matched:
            place = (matched.group(1), int(matched.group(2)), int(matched.group(3) or 0))
            level, message = matched.group(4), matched.group(5)
        else:
            placeless = PLACELESS.match(line)
            if not placeless:
                problems.append("a gnu line neither the problem matcher nor the placeless form "
                                "reads: " + line)
                continue
            place, level, message = None, placeless.group(1), placeless.group(2)
        named = NAMED.match(message)
        rule = named.group(2) if named else "failure"
        message = named.group(1) if named else message
        found.append({"rule": rule, "level": level, "message": message, "place": place,
                      "notes": [], "fixes": []})
    return found


def location_of(physical, work, problems, what):
    artifact = physical["artifactLocation"]
    uri = artifact["uri"]
    if uri.startswith("file://"):
        path = urllib.parse.unquote_to_bytes(uri[len("file://"):])
    else:
        if artifact.get("uriBaseId") != "WORKDIR":
            problems.append(what + ": a relative uri without the WORKDIR base")
        path = urllib.parse.unquote_to_bytes(uri)
    region = physical["region"]
    return path.decode("utf-8", "surrogateescape"), region["startLine"], region.get("startColumn")


def compare_place(expected, physical, work, problems, what):
    file, line, column = location_of(physical, work, problems, what)
    gnu_file, gnu_line, gnu_column = expected
    if (file, line) != (gnu_file, gnu_line):
        problems.append("%s: SARIF %s:%d, gnu %s:%d" % (what, file, line, gnu_file, gnu_line))
        return
    if gnu_column:
        want = code_point_column(os.path.join(work, gnu_file), gnu_line, gnu_column)
        if column != want:
            problems.append("%s: startColumn %s, expected %d (byte column %d)"
                            % (what, column, want, gnu_column))


def compare_fixes(result, fixes, work, problems, what):
    """The gnu form's fix-it lines are the replacements of the result's one fix, in order, their
    byte columns the log's code point columns."""
    replacements = []
    for fix in result.get("fixes", []):
        for change in fix["artifactChanges"]:
            for replacement in change["replacements"]:
                replacements.append((change["artifactLocation"], replacement))
    if len(result.get("fixes", [])) > 1:
        problems.append(what + ": more than one fix")
    if len(replacements) != len(fixes):
        problems.append("%s: %d replacements, %d fix-it lines" % (what, len(replacements),
                                                                  len(fixes)))
        return
    for (artifact, replacement), (path, line, start, end, text) in zip(replacements, fixes):
        region = replacement["deletedRegion"]
        where, _, _ = location_of({"artifactLocation": artifact, "region": region}, work,
                                  problems, what)
        expected = (path, line, code_point_column(os.path.join(work, path), line, start),
                    code_point_column(os.path.join(work, path), line, end), text)
        got = (where, region["startLine"], region["startColumn"], region["endColumn"],
               replacement["insertedContent"]["text"])
        if got != expected:
            problems.append("%s: fix %r, fix-it %r" % (what, got, expected))


def compare(name, gnu, log, work, problems):
    run_ = log["runs"][0]
    results = run_["results"]
    rules = [rule["id"] for rule in run_["tool"]["driver"]["rules"]]
    if len(results) != len(gnu):
        problems.append("%s: %d SARIF results, %d gnu diagnostics" % (name, len(results),
                                                                      len(gnu)))
        return
    for index, (result, expected) in enumerate(zip(results, gnu)):
        what = "%s result %d" % (name, index)
        if result["ruleId"] != expected["rule"] or rules[result["ruleIndex"]] != result["ruleId"]:
            problems.append("%s: rule %s (index %s), gnu [%s]" % (
                what, result["ruleId"], result.get("ruleIndex"), expected["rule"]))
        if result["level"] != expected["level"]:
            problems.append("%s: level %s, gnu %s" % (what, result["level"], expected["level"]))
        if result["message"]["text"] != json_text(expected["message"].encode(
                "utf-8", "surrogateescape")):
            problems.append("%s: message %r, gnu %r" % (what, result["message"]["text"],
                                                         expected["message"]))
        locations = result.get("locations", [])
        if expected["place"] is None:
            if locations:
                problems.append(what + ": locations where gnu has none")
            continue
        if len(locations) != 1:
            problems.append(what + ": not one location")
            continue
        compare_place(expected["place"], locations[0]["physicalLocation"], work, problems, what)
        compare_fixes(result, expected["fixes"], work, problems, what)
        related = result.get("relatedLocations", [])
        if len(related) != len(expected["notes"]):
            problems.append("%s: %d related locations, %d notes" % (what, len(related),
                                                                    len(expected["notes"])))
            continue
        for at, (related_location, note) in enumerate(zip(related, expected["notes"])):
            if related_location["message"]["text"] != note[3]:
                problems.append("%s: related %d says %r, note %r" % (
                    what, at, related_location["message"]["text"], note[3]))
            compare_place(note[:3], related_location["physicalLocation"], work, problems,
                          "%s related %d" % (what, at))


def match(tool, cases_dir):
    problems = []
    count = results = 0
    with tempfile.TemporaryDirectory(prefix="xmlpp-sarif-") as temp:
        for name, folder in case_runs(cases_dir):
            gnu_work = os.path.join(temp, name + ".gnu")
            args = prepare(folder, gnu_work)
            gnu_status, gnu_err = run(tool, ["--diagnostics=gnu"] + args, gnu_work, folder)
            sarif_work = os.path.join(temp, name + ".sarif")
            prepare(folder, sarif_work)
            status, err = run(tool, ["--diagnostics=sarif"] + args, sarif_work, folder)
            if status != gnu_status:
                problems.append("%s: status %d with sarif, %d with gnu" % (name, status,
                                                                           gnu_status))
            if b"(see xmlpp --help)" in gnu_err:
                # A command line that cannot be read: the text form whatever was asked, no log.
                if err != gnu_err:
                    problems.append("%s: a usage error differs between the forms" % name)
                count += 1
                continue
            try:
                log = json.loads(err.decode("utf-8"))
            except ValueError as error:
                problems.append("%s: standard error is not one JSON log (%s)" % (name, error))
                continue
            invocation = log["runs"][0]["invocations"][0]
            if invocation != {"executionSuccessful": status == 0, "exitCode": status}:
                problems.append("%s: invocation %r for status %d" % (name, invocation, status))
            gnu = gnu_diagnostics(gnu_err, problems)
            compare(name, gnu, log, sarif_work, problems)
            results += len(gnu)
            count += 1
    for problem in problems:
        print("FAIL: " + problem, file=sys.stderr)
    print("%d cases, %d diagnostics compared, %d problems" % (count, results, len(problems)))
    return 1 if problems or results == 0 else 0


def logs(tool, cases_dir, out):
    """Writes the logs of the cases and of runs made here (no result, a failure, odd bytes)."""
    os.makedirs(out, exist_ok=True)
    count = 0
    with tempfile.TemporaryDirectory(prefix="xmlpp-sarif-") as temp:
        for name, folder in case_runs(cases_dir):
            work = os.path.join(temp, name)
            args = prepare(folder, work)
            _, err = run(tool, ["--diagnostics=sarif"] + args, work, folder)
            if b"(see xmlpp --help)" in err:
                continue  # a usage error: no log
            with open(os.path.join(out, name + ".sarif.json"), "wb") as f:
                f.write(err)
            count += 1
        work = os.path.join(temp, "made")
        os.makedirs(work)
        odd = b"caf\xc3\xa9 \xff\xfe:odd.xml"
        with open(os.path.join(work.encode(), odd), "wb") as f:
            f.write(b'<board>\n  <d\xc3\xa9f x="\xe9"><ifdef nme="A"/></d\xc3\xa9f>\n</board>\n')
        with open(os.path.join(work, "clean.xml"), "wb") as f:
            f.write(b"<board/>\n")
        made = {
            "no_results": ["--diagnostics=sarif", "clean.xml", "out.xml"],
            "failure": ["--diagnostics=sarif", "missing.xml", "out.xml"],
            "odd_bytes": ["--warn", "--diagnostics=sarif", odd, b"out.xml"],
            "absolute_path": ["--warn", "--diagnostics=sarif",
                              os.path.join(work.encode(), odd), b"out.xml"],
        }
        for name, args in made.items():
            result = subprocess.run([tool] + args, cwd=work, capture_output=True)
            with open(os.path.join(out, name + ".sarif.json"), "wb") as f:
                f.write(result.stderr)
            count += 1
        subprocess.run([tool, "--strict", "--diagnostics=sarif:" + os.path.join(out,
                        "file_form.sarif.json"), odd, b"out.xml"], cwd=work, capture_output=True)
        count += 1
    print("%d logs written to %s" % (count, out))
    return 0


def main(argv):
    if len(argv) == 4 and argv[1] == "match":
        return match(argv[2], argv[3])
    if len(argv) == 5 and argv[1] == "logs":
        return logs(argv[2], argv[3], argv[4])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
