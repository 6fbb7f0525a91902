#include "xml/XMLNode.h"

#include <cstring>

#include "xml/Arena.h"

const XMLAttribute* XMLElement::find(std::string_view name) const {
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (attributes_[i].name == name) return &attributes_[i];
  }
  return nullptr;
}

const std::string_view* XMLElement::attribute(std::string_view name) const {
  const XMLAttribute* record = find(name);
  return record && !record->isNull() ? &record->value : nullptr;
}

void XMLElement::setAttribute(Arena& arena, std::string_view name, std::string_view value,
                              bool isNull) {
  const std::string_view stored = isNull         ? std::string_view()
                                  : value.data() ? value
                                                 : std::string_view("");
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (attributes_[i].name == name) {
      attributes_[i].value = stored;
      return;
    }
  }
  if (count_ == capacity_) {
    const std::uint32_t capacity = capacity_ ? capacity_ * 2 : 4;
    XMLAttribute* records = arena.allocateArray<XMLAttribute>(capacity);
    if (count_)
      std::memcpy(static_cast<void*>(records), attributes_, sizeof(XMLAttribute) * count_);
    attributes_ = records;
    capacity_ = capacity;
  }
  attributes_[count_++] = XMLAttribute{name, stored};
}
