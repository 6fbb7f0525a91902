#!/usr/bin/env bash
# The Neovim setup of docs/editors.md: its three Lua blocks (two setups and the :XmlppCommand
# command) are valid Lua, and the setup for the installed Neovim (vim.lsp.start from 0.8 on, else the 0.7 form), run headless, starts one
# `xmlpp --lsp` for the XML files opened (a stand-in server found as xmlpp on PATH records what
# it gets), with the documented initialization options, and none for other files. Skipped
# (status 77) without nvim.
#
#   tests/editors/neovim_setup.sh SOURCE_DIR
set -euo pipefail

source_dir=$1
if ! command -v nvim >/dev/null 2>&1; then
  echo "SKIPPED: nvim is not installed (package neovim); the Neovim setup is not tested"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/xmlpp-neovim-setup-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  [ -s "$work/log" ] && cat "$work/log" >&2
  exit 1
}

# The Lua blocks, in the order the page shows them.
awk -v dir="$work" '/^```lua$/ { n++; on = 1; next } /^```$/ { on = 0 }
  on { print > (dir "/setup" n ".lua") }' "$source_dir/docs/editors.md"
[ -f "$work/setup3.lua" ] && [ ! -e "$work/setup4.lua" ] ||
  fail "docs/editors.md does not hold three Lua blocks"
for block in setup1 setup2 setup3; do
  nvim --headless -u NONE -c "lua local ok, err = loadfile('$work/$block.lua')
    if not ok then io.stderr:write(err .. '\n') vim.cmd('cquit 1') end" -c 'qall!' \
    >"$work/log" 2>&1 || fail "$block.lua (docs/editors.md) is not valid Lua"
done

mkdir -p "$work/bin" "$work/project"
ln -s "$source_dir/tests/editors/fake_lsp_server.py" "$work/bin/xmlpp"
printf '<a/>\n' >"$work/project/a.xml"
printf '<b/>\n' >"$work/project/b.xml"
printf 'text\n' >"$work/project/c.txt"
project=$(cd "$work/project" && pwd -P)
export FAKE_LSP_RECORD=$work/record
# Waits until the server saw both XML files open (or 10 s), then quits.
wait_opened="lua vim.wait(10000, function()
    local ok, lines = pcall(vim.fn.readfile, '$FAKE_LSP_RECORD')
    return ok and #vim.tbl_filter(function(l) return l:find('didOpen') end, lines) >= 2
  end, 50)"
(cd "$work/project" && PATH="$work/bin:$PATH" nvim --headless -u NONE -c 'filetype on' \
  -c "lua if vim.lsp.start then dofile('$work/setup1.lua') else dofile('$work/setup2.lua') end" \
  -c "luafile $work/setup3.lua" -c 'edit a.xml' -c 'split c.txt' -c 'split b.xml' \
  -c "$wait_opened" -c 'qall!') \
  >"$work/log" 2>&1 || fail "nvim with the setup"

python3 - "$FAKE_LSP_RECORD" "$project" >"$work/log" 2>&1 <<'PYTHON' || fail "what the server got"
import json, sys
record, project = sys.argv[1:]
with open(record, encoding="utf-8") as f:
    events = [json.loads(line) for line in f]
starts = [e for e in events if e["event"] == "start"]
assert starts == [{"event": "start", "argv": ["--lsp"]}], f"one server, xmlpp --lsp: {events}"
options = [e["options"] for e in events if e["event"] == "initialize"]
want = {"macros": ""}
assert options == [want], f"initialization options {options}, not {want}"
opened = sorted(e["uri"] for e in events if e["event"] == "didOpen")
assert opened == [f"file://{project}/a.xml", f"file://{project}/b.xml"], f"opened {opened}"
PYTHON
echo "neovim setup ($(nvim --version | head -1)): ok"
