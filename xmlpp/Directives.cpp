#include "xmlpp/Directives.h"

const DirectiveAttribute* Directive::attribute(std::string_view attributeName) const {
  for (const DirectiveAttribute& a : attributes) {
    if (!a.name.empty() && a.name == attributeName) return &a;
  }
  return nullptr;
}

std::string_view Directive::required() const {
  if (without.empty()) return {};
  for (const DirectiveAttribute& a : attributes) {
    if (a.use == AttributeUse::Required) return a.name;
  }
  return {};
}

const Directive* directiveNamed(std::string_view elementName) {
  for (const Directive& d : kDirectives) {
    if (d.name == elementName) return &d;
  }
  return nullptr;
}
