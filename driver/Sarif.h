#pragma once

// The SARIF 2.1.0 log of a run (--diagnostics=sarif): the tool with every check as a rule, and
// one result per diagnostic, in the order they came.
//
// A result's location is its file, as a URI reference: a relative path stays relative, to the
// base "WORKDIR" (the working directory, given as a file URI in the run), an absolute one is a
// file URI; every byte but letters, digits, "-", ".", "_", "~" and "/" is percent-encoded. Lines
// count from 1. The tool's columns count bytes; SARIF counts characters, so the run states
// "unicodeCodePoints" and a column is converted by reading the file's line: a well-formed UTF-8
// sequence is one code point, and so is each byte that is not part of one (as editors show it,
// one replacement character each). Where the line cannot be read again (standard input, a file
// that is not a regular file, or one removed or shortened since), the region gives the line alone.
// The include and xmlput elements that led there are related locations. Texts are made valid UTF-8
// by jsonText (diagnostics/JsonText.h).

#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/Diagnostic.h"

// The log, indented, ending with a line feed; `exitStatus` is the run's.
std::string sarifLog(const std::vector<Diagnostic>& diagnostics, int exitStatus);

// The column, in code points from 1, of the byte column `byteColumn` (from 1) of line `line`
// (from 0; a line ends at a line feed, a carriage return, or both together) in `text`; 0 when
// the text has no such line or the line no such column.
int codePointColumn(std::string_view text, int line, int byteColumn);

// `path` as a URI reference, percent-encoded; an absolute path as a file URI.
std::string fileUri(std::string_view path);
