#!/usr/bin/env bash
# Fails when a source file includes a header through a relative path that leaves its folder
# ("../macros/MacroMap.h"): such an include would bypass the module boundaries that the build's
# include directories enforce. Usage: module_includes.sh SOURCE_ROOT
set -euo pipefail
root=$1
found=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*/)?\.\./' \
  "$root"/{diagnostics,files,xml,macros,expr,xmlpp,lsp,driver,tests,fuzz,bench} \
  --include='*.h' --include='*.cpp' || true)
if [ -n "$found" ]; then
  echo "includes that leave their module by a relative path:"
  echo "$found"
  exit 1
fi
