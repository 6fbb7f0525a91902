#pragma once

#include <string>
#include <string_view>

#include "macros/MacroMap.h"
#include "xml/XMLNode.h"
#include "xmlpp/XMLPP2.h"

class Scope;

// Loads `fileName` into the document and preprocesses it with the macros of `macroList`. False
// only when the file could not be opened or parsed (the document's errorText and errorLine say
// why); preprocessing failures go through the document's reportError.
bool preprocessFile(XMLPP2& document, const std::string& fileName, std::string_view macroList,
                    bool macroExpansion);

// Walks the sibling chain starting at `first`, and everything below it, carrying out the
// directives. `scope` is the scope map of that chain; definitions made in the chain land in it.
void processConditionals(XMLPP2& document, XMLNode* first, const std::string& fileName,
                         Scope& scope, bool macroExpansion);

// Expands the macro references in the element's attribute values in place.
void expandElementAttributes(XMLPP2& document, XMLElement* element, const MacroMap& macros);

// A detached deep copy of the element and its element descendants, every attribute value
// expanded with `macros`.
XMLElement* copyWithMacros(XMLPP2& document, const XMLElement* element, const MacroMap& macros);

// The same two, with scratch storage that callers expanding many elements reuse between calls.
void expandElementAttributes(XMLPP2& document, XMLElement* element, const MacroMap& macros,
                             std::string& buffer);
XMLElement* copyWithMacros(XMLPP2& document, const XMLElement* element, const MacroMap& macros,
                           std::string& buffer);
