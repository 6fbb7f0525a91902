#include "xml/XMLDocument.h"

XMLNode* XMLDocument::copyNode(const XMLNode* source, XMLNode* newParent) {
  auto copyOne = [this](const XMLNode* node) -> XMLNode* {
    XMLNode* copy;
    if (node->isElement()) {
      auto* element = static_cast<const XMLElement*>(node);
      XMLElement* result = createElement(element->name());
      std::uint32_t count = element->attributeCount();
      if (count) {
        // Names and values are never changed in place, so the copy may share them.
        XMLAttribute* records = arena_.allocateArray<XMLAttribute>(count);
        for (std::uint32_t i = 0; i < count; ++i)
          records[i] = element->attributes()[i];
        result->adoptAttributes(records, count);
      }
      copy = result;
    } else {
      auto* data = static_cast<const XMLCharacterData*>(node);
      switch (node->kind()) {
        case XMLNodeKind::Data:
          copy = make<XMLData>(data->text());
          break;
        case XMLNodeKind::Comment:
          copy = make<XMLComment>(data->text());
          break;
        default:
          copy = make<XMLCDATASection>(data->text());
          break;
      }
    }
    return copy;
  };
  XMLNode* result = copyTree(source, copyOne);
  if (newParent) newParent->appendChild(result);
  return result;
}
