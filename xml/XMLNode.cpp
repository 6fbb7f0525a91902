#include "xml/XMLNode.h"

#include <cstring>
#include <utility>

#include "xml/Arena.h"

void XMLNode::appendChild(XMLNode* node) {
  if (!firstChild) {
    firstChild = node;
  } else {
    XMLNode* last = firstChild;
    while (last->next)
      last = last->next;
    last->next = node;
  }
  node->parent = this;
}

void XMLNode::prependChild(XMLNode* node) {
  node->next = firstChild;
  firstChild = node;
  node->parent = this;
}

void XMLNode::removeChild(XMLNode* node) {
  if (firstChild == node) {
    firstChild = node->next;
    return;
  }
  for (XMLNode* child = firstChild; child; child = child->next) {
    if (child->next == node) {
      child->next = node->next;
      return;
    }
  }
}

void XMLNode::replaceChild(XMLNode* oldNode, XMLNode* newNode) {
  if (firstChild == oldNode) {
    firstChild = newNode;
  } else {
    XMLNode* child = firstChild;
    while (child && child->next != oldNode)
      child = child->next;
    if (!child) return;
    child->next = newNode;
  }
  newNode->next = oldNode->next;
  newNode->parent = oldNode->parent;
}

void XMLNode::insertAfter(XMLNode* reference, XMLNode* chain) {
  XMLNode* chainLast = chain;
  for (XMLNode* node = chain; node; node = node->next) {
    node->parent = this;
    chainLast = node;
  }
  if (!firstChild) {
    firstChild = chain;
    return;
  }
  XMLNode* after = nullptr;
  if (reference) {
    for (XMLNode* child = firstChild; child; child = child->next) {
      if (child == reference) {
        after = child;
        break;
      }
    }
  }
  if (!after) {
    after = firstChild;
    while (after->next)
      after = after->next;
  }
  chainLast->next = after->next;
  after->next = chain;
}

const XMLAttribute* XMLElement::find(std::string_view name) const {
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (attributes_[i].name == name) return &attributes_[i];
  }
  return nullptr;
}

XMLAttribute* XMLElement::find(std::string_view name) {
  return const_cast<XMLAttribute*>(std::as_const(*this).find(name));
}

const std::string_view* XMLElement::attribute(std::string_view name) const {
  const XMLAttribute* record = find(name);
  return record && !record->isNull() ? &record->value : nullptr;
}

void XMLElement::setAttribute(Arena& arena, std::string_view name, std::string_view value,
                              bool isNull) {
  if (XMLAttribute* record = find(name)) {
    record->value = isNull ? std::string_view() : value.data() ? value : std::string_view("");
    return;
  }
  if (count_ == capacity_) {
    std::uint32_t capacity = capacity_ ? capacity_ * 2 : 4;
    XMLAttribute* records = arena.allocateArray<XMLAttribute>(capacity);
    if (count_)
      std::memcpy(static_cast<void*>(records), attributes_, sizeof(XMLAttribute) * count_);
    attributes_ = records;
    capacity_ = capacity;
  }
  attributes_[count_++] = XMLAttribute{name, isNull         ? std::string_view()
                                             : value.data() ? value
                                                            : std::string_view("")};
}

void XMLElement::removeAttribute(std::string_view name) {
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (attributes_[i].name == name) {
      for (std::uint32_t j = i + 1; j < count_; ++j)
        attributes_[j - 1] = attributes_[j];
      --count_;
      return;
    }
  }
}
