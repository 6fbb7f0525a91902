#include "xml/XMLDocument.h"

XMLElement* XMLDocument::copyElement(const XMLElement* source) {
  auto copyOne = [this](const XMLNode* node) -> XMLNode* {
    if (!node->isElement()) {
      return make<XMLCDATASection>(static_cast<const XMLCDATASection*>(node)->text());
    }
    auto* element = static_cast<const XMLElement*>(node);
    XMLElement* copy = createElement(element->name());
    if (const std::uint32_t count = element->attributeCount()) {
      // Names and values are never changed in place, so the copy may share them.
      XMLAttribute* records = arena_.allocateArray<XMLAttribute>(count);
      for (std::uint32_t i = 0; i < count; ++i)
        records[i] = element->attributes()[i];
      copy->adoptAttributes(records, count);
    }
    return copy;
  };
  return static_cast<XMLElement*>(copyTree(source, copyOne));
}
