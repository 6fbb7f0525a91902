#pragma once

// What the writer's output must satisfy to read back as the same document.

#include <string_view>
#include <vector>

#include "xml/XMLDocument.h"
#include "xml/XMLNames.h"

namespace fuzz {

// Calls `visit` with every node of the document, without recursion, until it returns false;
// returns false when a visit did.
template <class Visit>
bool forEachNode(const XMLDocument& document, Visit visit) {
  std::vector<const XMLNode*> stack;
  if (document.root) stack.push_back(document.root);
  while (!stack.empty()) {
    const XMLNode* node = stack.back();
    stack.pop_back();
    if (!visit(node)) return false;
    for (const XMLNode* child = node->firstChild; child; child = child->next)
      stack.push_back(child);
  }
  return true;
}

// True when writing the document and reading the result back gives the same tree. Three things
// are written as they are stored, so they can break that:
// - an element with an empty name, no attributes and no children is written "</>", which reads
//   back as an end tag;
// - declaration values are written between double quotes without escapes, so a value holding a
//   double quote (read from a single-quoted value) ends early when read back, and what follows it
//   is read as markup, which may fail to load;
// - attribute names are written unchecked; the reader accepts only names of letters, digits, "_",
//   ":" and "-" that begin with neither a digit nor nothing, and the preprocessor can make others
//   (inherit_attributes takes any text between ";" as a name).
inline bool writtenFormReadsBack(const XMLDocument& document) {
  for (const auto& field : {document.version, document.encoding}) {
    if (field && field->find('"') != std::string_view::npos) return false;
  }
  return forEachNode(document, [](const XMLNode* node) {
    if (!node->isElement()) return true;
    const auto* element = static_cast<const XMLElement*>(node);
    if (element->name().empty() && element->attributeCount() == 0 && !element->firstChild) {
      return false;
    }
    for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
      std::string_view name = element->attributes()[i].name();
      if (name.empty() || !startsAttributeName(static_cast<unsigned char>(name[0]))) return false;
      for (char c : name) {
        if (!isNameChar(static_cast<unsigned char>(c))) return false;
      }
    }
    return true;
  });
}

}  // namespace fuzz
