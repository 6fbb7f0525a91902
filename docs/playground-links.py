#!/usr/bin/env python3
"""The documentation's links into the playground: each example of README.md and
docs/directives.md (the `<!-- example: NAME -->` blocks that tests/docs/examples.sh runs) gets a
link on the line after its mark that opens its files and its command in the page, and the README's
board example link opens examples/board. The page state is the URL fragment: base64url, without
padding, of the UTF-8 JSON {"files": [[NAME, TEXT], ...], "args": [...], "env": {...}}.

A link reads "Open in the playground" when the example is one run of the tool (its default
command, or one `xmlpp ...` command, with variables before it and `2>&1` after it at most), whose
output and messages the page shows as the command line prints them; otherwise "Open the files in
the playground", with the arguments of its first xmlpp command.

    docs/playground-links.py write SOURCE_DIR   # update the links in place (make docs)
    docs/playground-links.py check SOURCE_DIR   # fail when a link is missing or stale
"""

import base64
import json
import os
import re
import shlex
import sys

DOCS = {"README.md": "docs/playground/index.html", "docs/directives.md": "playground/index.html"}
SINGLE = "Open in the playground"
FILES_ONLY = "Open the files in the playground"
BOARD = "Open the board example in the playground"
BOARD_ARGS = ["--diagnostics=gnu", "board.xml", "out.xml", "BOARD=evb2;VARIANT=full"]
LINK = re.compile(r"^\[(%s|%s|%s)\]\([^)]*playground/index\.html#[^)]*\)$"
                  % (re.escape(SINGLE), re.escape(FILES_ONLY), re.escape(BOARD)))
ASSIGNMENT = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*=")


def fragment(files, args, env):
    state = {"files": files, "args": args}
    if env:
        state["env"] = env
    text = json.dumps(state, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
    return base64.urlsafe_b64encode(text).decode("ascii").rstrip("=")


def command_args(command):
    """The arguments and variables of the command's first xmlpp run, and whether it is the only
    thing the command does."""
    # A backslash before a line feed continues the line, as in the shell.
    lines = [line for line in command.replace("\\\n", " ").splitlines() if line.strip()]
    try:
        tokens = shlex.split(" ".join(lines), posix=True)
    except ValueError:
        return [], {}, False
    # shlex keeps operators glued to words only when written so; the docs separate them.
    env = {}
    at = 0
    while at < len(tokens) and ASSIGNMENT.match(tokens[at]):
        name, _, value = tokens[at].partition("=")
        env[name] = value
        at += 1
    if at >= len(tokens) or tokens[at] != "xmlpp":
        start = tokens.index("xmlpp") if "xmlpp" in tokens else len(tokens)
        env, at = {}, start
    args = []
    for token in tokens[at + 1:]:
        if token in ("&&", "||", ";", "|", "<", ">", "2>&1", "2>", ">>") or token.startswith(">"):
            break
        args.append(token)
    rest = tokens[at + 1 + len(args):]
    single = len(lines) == 1 and at < len(tokens) and rest in ([], ["2>&1"]) and \
        tokens[:at] == [f"{k}={v}" for k, v in env.items()]
    return args, env, single and bool(args)


def examples(lines):
    """Each example: the index of its mark's line, its files, and its link's text and state."""
    found = []
    current = None
    fence = None
    target = None

    def finish():
        if current is None:
            return
        if "command_lines" in current:
            current["command"] = "\n".join(current["command_lines"])
        if current["command"] is None:
            args = ["in.xml", "out.xml"] + ([current["macros"]] if current["macros"] else [])
            env, single = {}, True
        else:
            args, env, single = command_args(current["command"])
        current["args"], current["env"], current["single"] = args, env, single
        found.append(current)

    for number, line in enumerate(lines):
        if fence is not None:
            if line == fence:
                fence = None
            elif target is not None:
                target.append(line)
            continue
        mark = re.match(r"^<!-- example: (.*) -->$", line)
        if mark:
            finish()
            current = {"name": mark.group(1), "line": number, "files": [], "macros": "",
                       "command": None}
        elif line.startswith("#"):
            finish()
            current = None
        elif current is not None and re.match(r"^Macros: `.*`$", line):
            current["macros"] = line[len("Macros: `"):-1]
        elif line.startswith("```"):
            fence = "```"
            words = line[3:].split()
            target = None
            if current is not None and len(words) >= 2:
                name = words[1]
                target = []
                if name == "command":
                    current["command_lines"] = target
                elif name not in ("out.xml", "stdout", "stderr"):
                    current["files"].append([name, target])
    finish()
    return found


def link_lines(text, page, source_dir):
    """The document's lines with every link written; the count of links."""
    lines = text.split("\n")
    found = examples(lines)
    # Blocks were collected as lists of lines: each block's text ends with a line feed.
    for example in found:
        example["files"] = [[name, "".join(f"{line}\n" for line in body)]
                            for name, body in example["files"]]
    # Inserted lines shift the marks below them, so go from the end.
    for example in reversed(found):
        label = SINGLE if example["single"] else FILES_ONLY
        link = f"[{label}]({page}#{fragment(example['files'], example['args'], example['env'])})"
        at = example["line"] + 1
        if at < len(lines) and LINK.match(lines[at]):
            lines[at] = link
        else:
            lines.insert(at, link)
    board = board_link(page, source_dir)
    for number, line in enumerate(lines):
        if line.startswith(f"[{BOARD}]("):
            lines[number] = board
    return "\n".join(lines), len(found)


def board_link(page, source_dir):
    root = os.path.join(source_dir, "examples", "board")
    files = []
    for folder, dirs, names in os.walk(root):
        dirs.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            with open(path, encoding="utf-8") as f:
                files.append([os.path.relpath(path, root), f.read()])
    files.sort(key=lambda entry: (entry[0] != "board.xml", entry[0]))
    return f"[{BOARD}]({page}#{fragment(files, BOARD_ARGS, {})})"


def main():
    mode, source_dir = sys.argv[1], sys.argv[2]
    stale = []
    for doc, page in DOCS.items():
        path = os.path.join(source_dir, doc)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        updated, count = link_lines(text, page, source_dir)
        if updated != text:
            if mode == "write":
                with open(path, "w", encoding="utf-8") as f:
                    f.write(updated)
            else:
                stale.append(doc)
        print(f"{doc}: {count} examples linked")
    if stale:
        print(f"FAIL: the playground links of {', '.join(stale)} are not up to date: run make docs")
        sys.exit(1)


if __name__ == "__main__":
    main()
