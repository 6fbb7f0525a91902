#!/usr/bin/env bash
# Neovim's built-in LSP client, headless, against the real `xmlpp --lsp`: the editor setup of
# docs/editors.md (the Lua block for the installed Neovim, and :XmlppCommand) starts the server
# for a three-file project whose command database (two commands for main.xml) is in a folder not
# named build, and tests/editors/neovim_lsp.lua checks that one server serves the XML files and
# none starts for others, diagnostics, hover, go to definition and picking the command; then, in a project without a database, that the editor is
# told so. Skipped (status 77) without nvim; Neovim gets 60 s at most each time.
#
#   tests/editors/neovim_lsp.sh SOURCE_DIR XMLPP
set -euo pipefail

if ! command -v nvim >/dev/null 2>&1; then
  echo "skipped: nvim not installed (package neovim); the server is not tested with Neovim"
  exit 77
fi
source_dir=$(cd "$1" && pwd)
xmlpp=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/xmlpp-neovim-lsp-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The Lua blocks of the page, in its order: vim.lsp.start (0.8 on), then the 0.7 form.
awk -v dir="$work" '/^```lua$/ { n++; on = 1; next } /^```$/ { on = 0 }
  on { print > (dir "/setup" n ".lua") }' "$source_dir/docs/editors.md"
if [ ! -f "$work/setup3.lua" ] || [ -e "$work/setup4.lua" ]; then
  echo "FAIL: docs/editors.md does not hold the three Lua blocks of the Neovim setup" >&2
  exit 1
fi
# Each block is valid Lua, the one for the other Neovim version too.
for block in setup1 setup2 setup3; do
  nvim --headless -u NONE -c "lua local ok, err = loadfile('$work/$block.lua')
    if not ok then io.stderr:write(err .. '\n') vim.cmd('cquit 1') end" -c 'qall!' ||
    { echo "FAIL: $block.lua (docs/editors.md) is not valid Lua" >&2; exit 1; }
done

# The setup runs `xmlpp --lsp` from PATH.
mkdir -p "$work/bin" "$work/project/variants" "$work/alone"
ln -s "$xmlpp" "$work/bin/xmlpp"
cd "$work/project"
cat >main.xml <<'XML'
<board name="$(BOARD)">
  <include filename="lib.xml"/>
  <define name="NAME" value="sensor-$(BOARD)"/>
  <if BOARD="evb2">
    <cpu model="m4" label="$(NAME)"/>
  </if>
  <include filename="ports.xml"/>
</board>
XML
cat >lib.xml <<'XML'
<envelope>
  <xmldef name="uart"><uart id="$(ID)" owner="$(NAME)"/></xmldef>
</envelope>
XML
cat >ports.xml <<'XML'
<envelope>
  <xmlput name="uart" macros="ID=0"/>
  <xmlput name="spi" macros="ID=1"/>
</envelope>
XML
project=$(pwd -P)
cat >variants/xmlpp_commands.json <<JSON
[{"directory": "$project", "file": "$project/main.xml", "output": "$project/variants/board.xml",
  "arguments": ["xmlpp", "main.xml", "variants/board.xml", "BOARD=evb2"]},
 {"directory": "$project", "file": "$project/main.xml", "output": "$project/variants/evb1.xml",
  "arguments": ["xmlpp", "main.xml", "variants/evb1.xml", "BOARD=evb1"]}]
JSON
cp main.xml "$work/alone/main.xml"

# Neovim in FOLDER with the setup, then the checks of neovim_lsp.lua (CASE: which ones).
nvim_checks() {
  local status=0
  (cd "$1" && XMLPP_NEOVIM_CASE=$2 PATH="$work/bin:$PATH" timeout 60 nvim --headless -u NONE -i NONE \
    -n -c 'filetype on' \
    -c "lua if vim.lsp.start then dofile('$work/setup1.lua') else dofile('$work/setup2.lua') end" \
    -c "luafile $work/setup3.lua" -c "luafile $source_dir/tests/editors/neovim_lsp.lua" \
    </dev/null >"$work/log" 2>&1) || status=$?
  cat "$work/log"
  if [ "$status" -eq 124 ]; then
    echo "FAIL: Neovim did not finish within 60 s ($2)" >&2
  elif [ "$status" -ne 0 ] || ! grep -q '^neovim lsp: all checks passed' "$work/log"; then
    echo "FAIL: Neovim's client and xmlpp --lsp, $2 ($(nvim --version | head -1))" >&2
    status=1
  fi
  return "$status"
}
status=0
nvim_checks "$work/project" project || status=1
nvim_checks "$work/alone" no-database || status=1
exit "$status"
