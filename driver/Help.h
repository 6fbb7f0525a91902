#pragma once

// What --help and --version print, each ending with a line feed.

#include <string>

std::string helpText();
std::string versionText();
// The directive table of --help, from the directive schema (docs/directives.md has the same).
std::string directivesHelp();
