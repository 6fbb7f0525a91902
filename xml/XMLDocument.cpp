#include "xml/XMLDocument.h"

XMLElement* XMLDocument::copyElement(const XMLElement* source) {
  auto copyOne = [this](const XMLNode* node) -> XMLNode* {
    if (node->isText()) return make<XMLText>(static_cast<const XMLText*>(node)->text());
    if (!node->isElement()) {
      return make<XMLCDATASection>(static_cast<const XMLCDATASection*>(node)->text());
    }
    // Names and values are never changed in place, so the copy may share them.
    return copyAttributes(static_cast<const XMLElement*>(node),
                          [](const XMLAttribute& a) { return a; });
  };
  return static_cast<XMLElement*>(copyTree(source, copyOne));
}
