#pragma once

// The checks of what the lenient reader repaired in a file it just loaded (XMLDocument::repairs).

#include <cstdint>
#include <string>
#include <vector>

#include "xml/XMLDocument.h"
#include "xmlpp/Checks.h"

// The kinds of repair (1 << XMLDocument::Repair::Kind) whose checks `checks` enables.
std::uint32_t checkedRepairs(const CheckSettings& checks);

// Reports each repair of the last load of `document`, the text of `path`, located there and
// then along `chain` (the include elements that led to the file; empty for the input).
Failure reportRepairs(Findings& findings, const XMLDocument& document, const std::string& path,
                      const std::vector<SourceLocation>& chain);
