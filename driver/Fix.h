#pragma once

// --fix and --fix=diff: the certain repairs that findings carry (Diagnostic::fixes), applied to
// the files they name or shown as a unified diff.

#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/Diagnostic.h"

// `text` with `fixes` (all of one file) applied: each replaces the bytes of its line between its
// columns. A fix given twice counts once; one that overlaps an earlier one, or lies outside its
// line, is left out.
std::string applyFixes(std::string_view text, std::vector<FixIt> fixes);

// A unified diff of `before` and `after` for `path`, one hunk for each changed line (no context).
std::string unifiedDiff(const std::string& path, std::string_view before, std::string_view after);

// The certain fixes of `diagnostics`, applied: to the input and the files under its folder (never
// one found through an -I folder of `includeDirs`, whose fixes are printed instead), each file
// written through a temporary file and all put in place together, nothing changed on a failure;
// or, with `diffOnly`, printed as a unified diff on standard output, nothing changed.
Failure fixFiles(const std::vector<Diagnostic>& diagnostics, const std::string& input,
                 const std::vector<std::string>& includeDirs, bool diffOnly);
