#include "xml/XMLDocument.h"

#include <vector>

XMLNode* XMLDocument::copyNode(const XMLNode* source, XMLNode* newParent) {
  auto copyOne = [this](const XMLNode* node, XMLNode* parent) -> XMLNode* {
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
    if (parent) parent->appendChild(copy);
    return copy;
  };

  XMLNode* result = copyOne(source, newParent);
  // Pairs of (source child to copy next, copy to append it to); appending to the copy's tail
  // directly keeps the whole copy linear in the number of nodes.
  struct Pending {
    const XMLNode* source;
    XMLNode* copy;
    XMLNode* lastChild;
  };
  std::vector<Pending> stack;
  if (source->firstChild) stack.push_back({source->firstChild, result, nullptr});
  while (!stack.empty()) {
    Pending& top = stack.back();
    if (!top.source) {
      stack.pop_back();
      continue;
    }
    const XMLNode* node = top.source;
    top.source = node->next;
    XMLNode* copy = copyOne(node, nullptr);
    copy->parent = top.copy;
    if (top.lastChild) {
      top.lastChild->next = copy;
    } else {
      top.copy->firstChild = copy;
    }
    top.lastChild = copy;
    if (node->firstChild) stack.push_back({node->firstChild, copy, nullptr});
  }
  return result;
}
