#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/Diagnostic.h"

// The dependency file that a run writes when the environment variable XMLPP_DEPFILE names a path:
// one Make-style rule "OUTFILE: INFILE DEP...\n" that lists every file the run loaded, so that a
// build system (GNU Make, Ninja, CMake's DEPFILE) regenerates the output when any of them changes,
// and an empty rule "DEP:\n" for each included file, so that deleting one breaks no build.

// How a file name is written so that GNU Make and Ninja both read back exactly that name, as a
// target or prerequisite and as the target of an empty rule:
//   blank -> "\ "     "#" -> "\#"     ":" -> "\:"     "$" -> "$$"
// and backslashes directly before a blank doubled (both tools read 2N+1 backslashes and a blank as
// N backslashes and a blank). Every other byte is written as it is. A name that one of the tools
// would read otherwise cannot be written at all (`unlistableName` says why):
//   - a control byte (tab, line feed and carriage return among them) or DEL, or one of
//     " % & ' ( ) * ; < = > ? [ ^ ` |   (Ninja ends a name there whatever precedes it; for Make
//     ";" starts a recipe, "|" makes the names after it order-only, "=" and "%" turn the empty
//     rule into an assignment or a pattern, "(" and ")" name archive members, "*", "?" and "["
//     are wildcards);
//   - a backslash directly before "#", ":" or "$", or at the end of the name (the two tools
//     halve such backslashes differently), a ":" at the end (Ninja takes it for the end of a
//     target) and a blank at the end (Make drops it before a ":" or a line end);
//   - with any leading "./" removed (as Make removes it), a name that begins with "~" (a home
//     folder to Make) or "-l" (a library to Make), or a dot followed by capital letters and
//     underscores only (Make's special targets, such as .PHONY).
std::string escapeDepFileName(std::string_view name);

// Why `name` cannot be written in a dependency file, naming the character (such as: holds ";"),
// or nothing when it can. Line breaks are reported by `depFileRule` before this is asked.
std::optional<std::string> unlistableName(std::string_view name);

// The whole text, each line ending in a newline: the rule "TARGET: DEP...", then an empty rule
// "DEP:" for each dependency but the first (the input), as compilers write with -MP, so that Make
// and Ninja go on when a dependency has been deleted. The dependencies (each named once) are
// listed in the order given; a dependency that names the target itself (compared after removing "."
// and ".." components) is left out, since build tools reject a file that depends on itself, and so
// is "-" (standard input, which is no file a build tool could watch). Fails when a name cannot be
// written: "a file name holds a line break", or "NAME holds ..." from `unlistableName`; a
// problem of the target names `targetOption` when that option gave it ("-MT's target ...").
Expected<std::string> depFileRule(std::string_view target,
                                  const std::vector<std::string>& dependencies,
                                  std::string_view targetOption = {});

// The name compilers give the dependency file of `output` (-MD): its name with the suffix of its
// last component (from its last ".", which must not begin the component) replaced by ".d", or
// ".d" added when it has none: "out/a.xml" -> "out/a.d", "dir.x/a" -> "dir.x/a.d".
std::string dependencyFileName(std::string_view output);

// The text of the dependency file at `path` for one run: the rule whose target is `ruleTarget`,
// or the output when it is empty; or why the file cannot be written: a name the rule cannot hold,
// or an output that is standard output ("-") with no other target given, since that has no name
// to make the rule's target.
Expected<std::string> depFileText(const std::string& path, std::string_view output,
                                  const std::vector<std::string>& dependencies,
                                  std::string_view ruleTarget = {});
