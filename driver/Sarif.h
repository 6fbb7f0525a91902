#pragma once

// The SARIF 2.1.0 log of a run (--diagnostics=sarif): the tool with every check as a rule, and
// one result per diagnostic, in the order they came.
//
// A result's location is its file, as a URI reference: a relative path stays relative, to the
// base "WORKDIR" (the working directory, given as a file URI in the run), an absolute one is a
// file URI; every byte but letters, digits, "-", ".", "_", "~" and "/" is percent-encoded. Lines
// count from 1. SARIF counts columns in characters, so the run states "unicodeCodePoints": the
// diagnostics given have their columns in code points already (Reporter converts them, through
// the line index of the text the run read: TextLines), and a location without one gives its line
// alone. The include and xmlput elements that led there are related locations. Texts are made
// valid UTF-8 by jsonText (diagnostics/JsonText.h).

#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/Diagnostic.h"

// The log, indented, ending with a line feed; `exitStatus` is the run's. The locations' columns
// count code points.
std::string sarifLog(const std::vector<Diagnostic>& diagnostics, int exitStatus);

// `path` as a URI reference, percent-encoded; an absolute path as a file URI.
std::string fileUri(std::string_view path);
