#include "xml/XMLNode.h"

#include <stdexcept>

void refuseLength() {
  throw std::length_error("a name, value or text of 4 GiB or more");
}

const XMLAttribute* XMLElement::find(std::string_view name) const {
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (attributes_[i].name() == name) return &attributes_[i];
  }
  return nullptr;
}

std::optional<std::string_view> XMLElement::attribute(std::string_view name) const {
  const XMLAttribute* record = find(name);
  if (!record || record->isNull()) return std::nullopt;
  return record->value();
}
