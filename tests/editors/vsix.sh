#!/usr/bin/env bash
# `make vsix` builds the VS Code extension's .vsix: npm ci (from the npm registry, so this test
# needs the network and is not part of `make test`; `make vsix-test` runs it) and vsce package.
# The package must hold the extension, its manifest, its README and the language client, and
# nothing of the packaging tool or the tests. Skipped (status 77) without node and npm.
#
#   tests/editors/vsix.sh [source-dir]
set -euo pipefail

source_dir=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
for tool in node npm; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool is not installed (packages nodejs, npm); the .vsix is not built"
    exit 77
  fi
done
unset MAKEFLAGS MFLAGS MAKELEVEL

work=$(mktemp -d "${TMPDIR:-/tmp}/xmlpp-vsix-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

version=$(node -p 'require(process.argv[1]).version' "$source_dir/editors/vscode/package.json")
make -C "$source_dir" vsix VSIX_BUILD="$work/build" >"$work/log" 2>&1 ||
  { cat "$work/log" >&2; fail "make vsix"; }
vsix=$work/build/xmlpp-$version.vsix
[ -f "$vsix" ] || fail "no $vsix"
[ ! -e "$source_dir/editors/vscode/node_modules" ] || fail "make vsix installed into the sources"

unzip -Z1 "$vsix" >"$work/files" || fail "unzip -Z1 $vsix"
for file in extension.vsixmanifest extension/package.json extension/extension.js \
  extension/readme.md extension/node_modules/vscode-languageclient/node.js \
  extension/node_modules/vscode-languageclient/package.json; do
  grep -qxF "$file" "$work/files" || fail "not in the .vsix: $file"
done
! grep -q '^extension/test/\|^extension/node_modules/@vscode/vsce/\|^extension/package-lock.json$' \
  "$work/files" || fail "the .vsix holds the tests, the packaging tool or the lock file"
unzip -p "$vsix" extension/package.json | cmp -s - "$source_dir/editors/vscode/package.json" ||
  fail "the packaged package.json is not editors/vscode/package.json"
echo "vsix: $(wc -l <"$work/files") files in xmlpp-$version.vsix: ok"
