#!/usr/bin/env bash
# The VS Code extension's logic (editors/vscode/test/), with Node's test runner and stand-ins for
# the editor's modules: no npm package, no network. Skipped (status 77) without node.
#
#   tests/editors/vscode.sh SOURCE_DIR VERSION
set -euo pipefail

source_dir=$1
version=$2
if ! command -v node >/dev/null 2>&1; then
  echo "SKIPPED: node is not installed (package nodejs); the VS Code extension is not tested"
  exit 77
fi
XMLPP_VERSION=$version node --test "$source_dir/editors/vscode/test/"
