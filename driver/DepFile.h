#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/OutputFile.h"

// The dependency file that a run writes when the environment variable XMLPP_DEPFILE names a path:
// one Make-style rule "OUTFILE: INFILE DEP...\n" that lists every file the run loaded, so that a
// build system (GNU Make, Ninja, CMake's DEPFILE) regenerates the output when any of them changes,
// and an empty rule "DEP:\n" for each included file, so that deleting one breaks no build.

// Writes `name` the way GNU Make reads a target or prerequisite name back:
//   blank, tab -> "\ ", "\<tab>"     "#" -> "\#"     ":" -> "\:"     "$" -> "$$"
// Backslashes that directly precede a blank, a tab, "#", ":" or the end of the name are doubled
// (Make halves them there; at the end of a line it keeps them, so a name ending in a backslash
// reads back right only when another name follows it). Every other backslash is written as it
// is. Blanks, "#", "$", ":" and ordinary backslashes read back the same with Ninja, which differs
// only where a backslash directly precedes "#", ":", "$" or ends the name, and for tabs. Line
// breaks cannot be written at all.
std::string escapeDepFileName(std::string_view name);

// The whole text, each line ending in a newline: the rule "TARGET: DEP...", then an empty rule
// "DEP:" for each dependency but the first (the input), as compilers write with -MP, so that Make
// and Ninja go on when a dependency has been deleted. The dependencies (each named once) are
// listed in the order given; a dependency that names the target itself (compared after removing "."
// and ".." components) is left out, since build tools reject a file that depends on itself, and so
// is "-" (standard input, which is no file a build tool could watch). Returns nothing when a name
// holds a line break.
std::optional<std::string> depFileRule(std::string_view target,
                                       const std::vector<std::string>& dependencies);

// The dependency file of one run. It is opened before the output is written, so that an unusable
// path fails the run while the output is still untouched, and it is completed after the output,
// atomically: readers see the old rule or the complete new one. Without a path (XMLPP_DEPFILE
// unset or empty) both steps succeed and do nothing.
//
// The file is refused when it would be the output or one of the loaded files (the same file, by
// whatever path or link), and when the output is standard output ("-"), which has no name to
// make the rule's target.
class DepFile {
 public:
  explicit DepFile(const char* path) : path_(path ? path : "") {}

  // Builds the rule and opens the file; fails when a name cannot be written, the file is refused
  // or it cannot be created.
  Failure open(std::string_view target, const std::vector<std::string>& dependencies);
  // Writes the rule and replaces the file.
  Failure commit();

 private:
  bool wouldOverwrite(const std::string& target,
                      const std::vector<std::string>& dependencies) const;

  std::string path_;
  std::string rule_;
  OutputFile file_;
};
