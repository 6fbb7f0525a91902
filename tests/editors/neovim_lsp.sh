#!/usr/bin/env bash
# Neovim's built-in LSP client, headless, against the real `xmlpp --lsp`: the editor setup of
# docs/editors.md (the Lua block for the installed Neovim) starts the server for a three-file
# project with a command database, and tests/editors/neovim_lsp.lua checks diagnostics, hover,
# go to definition and completion. Skipped (status 77) without nvim; Neovim gets 60 s at most.
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
if [ ! -f "$work/setup1.lua" ] || [ ! -f "$work/setup2.lua" ]; then
  echo "FAIL: docs/editors.md does not hold the two Lua blocks of the Neovim setup" >&2
  exit 1
fi

# The setup runs `xmlpp --lsp` from PATH.
mkdir -p "$work/bin" "$work/project/build"
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
cat >build/xmlpp_commands.json <<JSON
[{"directory": "$project", "file": "$project/main.xml", "output": "$project/build/board.xml",
  "arguments": ["xmlpp", "main.xml", "build/board.xml", "BOARD=evb2"]}]
JSON

status=0
PATH="$work/bin:$PATH" timeout 60 nvim --headless -u NONE -i NONE -n -c 'filetype on' \
  -c "lua if vim.lsp.start then dofile('$work/setup1.lua') else dofile('$work/setup2.lua') end" \
  -c "luafile $source_dir/tests/editors/neovim_lsp.lua" </dev/null >"$work/log" 2>&1 || status=$?
cat "$work/log"
if [ "$status" -eq 124 ]; then
  echo "FAIL: Neovim did not finish within 60 s" >&2
elif [ "$status" -ne 0 ] || ! grep -q '^neovim lsp: all checks passed' "$work/log"; then
  echo "FAIL: Neovim's client and xmlpp --lsp ($(nvim --version | head -1))" >&2
  status=1
fi
exit "$status"
