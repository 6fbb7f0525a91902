#include "xmlpp/Walker.h"

#include <cstring>

#include "driver/MacroList.h"

namespace {

enum class Directive {
  None,
  If,
  IfNot,
  Ifex,
  Ifdef,
  Ifndef,
  Switch,
  Include,
  Define,
  For,
  Xmldef,
  Xmlput,
  Foreach
};

// The dispatch table, in the order in which names are tested.
Directive directiveOf(std::string_view name) {
  static constexpr std::pair<std::string_view, Directive> kTable[] = {
      {"if", Directive::If},           {"ifnot", Directive::IfNot},
      {"ifex", Directive::Ifex},       {"ifdef", Directive::Ifdef},
      {"ifndef", Directive::Ifndef},   {"switch", Directive::Switch},
      {"include", Directive::Include}, {"define", Directive::Define},
      {"for", Directive::For},         {"xmldef", Directive::Xmldef},
      {"xmlput", Directive::Xmlput},   {"foreach", Directive::Foreach}};
  if (name.size() < 2 || name.size() > 7) return Directive::None;
  switch (name[0]) {
    case 'i':
    case 's':
    case 'd':
    case 'f':
    case 'x':
      break;
    default:
      return Directive::None;
  }
  for (const auto& [text, directive] : kTable) {
    if (name == text) return directive;
  }
  return Directive::None;
}

const MacroEnvironment& environment() {
  if (const MacroEnvironment* env = macroEnvironment()) return *env;
  static const MacroEnvironment fallback;
  return fallback;
}

}  // namespace

std::string withoutLineFeeds(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (c != '\n') result.push_back(c);
  }
  return result;
}

std::string_view formatUpperHex(std::uint32_t value, char (&buffer)[10]) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char* p = buffer + sizeof buffer;
  do {
    *--p = kDigits[value & 15];
    value >>= 4;
  } while (value);
  *--p = 'x';
  *--p = '0';
  return std::string_view(p, static_cast<std::size_t>(buffer + sizeof buffer - p));
}

std::string upperHex(std::uint32_t value) {
  char buffer[10];
  return std::string(formatUpperHex(value, buffer));
}

std::string_view attributeText(const XMLElement* element, std::string_view name) {
  const std::string_view* value = element->attribute(name);
  return value ? *value : std::string_view();
}

bool preprocessFile(XMLPP2& document, const std::string& fileName, std::string_view macroList,
                    bool macroExpansion) {
  if (!document.load(fileName)) return false;
  document.loadedFiles.push_back(fileName);
  Scope scope(macroListToMap(splitMacroList(macroList)));
  processConditionals(document, document.root, fileName, scope, macroExpansion);
  return true;
}

void processConditionals(XMLPP2& document, XMLNode* first, const std::string& fileName,
                         Scope& scope, bool macroExpansion) {
  Walker(document, environment()).run(first, fileName, scope, macroExpansion);
}

void expandElementAttributes(XMLPP2& document, XMLElement* element, const MacroMap& macros) {
  std::string buffer;
  expandElementAttributes(document, element, macros, buffer);
}

void expandElementAttributes(XMLPP2& document, XMLElement* element, const MacroMap& macros,
                             std::string& buffer) {
  const MacroEnvironment& env = environment();
  XMLAttribute* attributes = element->attributes();
  for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
    XMLAttribute& a = attributes[i];
    if (a.isNull() || a.value.find('$') == std::string_view::npos) continue;
    env.expandMacros(macros, a.value, false, buffer);
    if (buffer != a.value) a.value = document.duplicateString(buffer);
  }
}

XMLElement* copyWithMacros(XMLPP2& document, const XMLElement* element, const MacroMap& macros) {
  std::string buffer;
  return copyWithMacros(document, element, macros, buffer);
}

XMLElement* copyWithMacros(XMLPP2& document, const XMLElement* element, const MacroMap& macros,
                           std::string& buffer) {
  const MacroEnvironment& env = environment();
  auto copyOne = [&](const XMLElement* source) {
    XMLElement* copy = document.createElement(source->name());
    std::uint32_t count = source->attributeCount();
    if (count) {
      XMLAttribute* records = document.arena().allocateArray<XMLAttribute>(count);
      for (std::uint32_t i = 0; i < count; ++i) {
        const XMLAttribute& a = source->attributes()[i];
        std::string_view value = a.isNull() ? std::string_view("") : a.value;
        // Expansion leaves a value without "$" as it is, so such a value is shared.
        if (value.find('$') != std::string_view::npos) {
          env.expandMacros(macros, value, false, buffer);
          value = document.duplicateString(buffer);
        }
        records[i] = XMLAttribute{a.name, value};
      }
      copy->adoptAttributes(records, count);
    }
    return copy;
  };
  return static_cast<XMLElement*>(
      XMLDocument::copyTree(element, [&](const XMLNode* node) -> XMLNode* {
        return node->isElement() ? copyOne(static_cast<const XMLElement*>(node)) : nullptr;
      }));
}

void Walker::run(XMLNode* first, const std::string& fileName, Scope& scope, bool macroExpansion) {
  frames_.clear();
  frames_.push_back(Frame{first, nullptr, std::move(scope), std::make_shared<std::string>(fileName),
                          macroExpansion, 0, 0, Finish{}});
  while (true) {
    std::size_t top = frames_.size() - 1;
    if (!frames_[top].node) {
      if (top == 0) break;
      Finish finish = frames_[top].finish;
      frames_.pop_back();
      finishFrame(frames_.back(), finish);
      continue;
    }
    step(top);
  }
  scope = std::move(frames_[0].scope);
  frames_.clear();
}

void Walker::step(std::size_t f) {
  Frame& fr = frames_[f];
  XMLNode* node = fr.node;
  if (!node->isElement()) {
    fr.prev = node;
    fr.node = node->next;
    return;
  }
  auto* element = static_cast<XMLElement*>(node);
  if (fr.expansion) expandElementAttributes(doc_, element, fr.scope.map(), buffer_);
  Directive directive = directiveOf(element->name());
  if (directive == Directive::None) return keep(f, element);
  if (!element->parent && directive != Directive::Include) {
    // A directive must have a parent to splice into or to be removed from.
    reportError("<" + std::string(element->name()) + "> cannot be the root element");
    return keep(f, element);
  }
  switch (directive) {
    case Directive::If:
      return doIf(f, element, false);
    case Directive::IfNot:
      return doIf(f, element, true);
    case Directive::Ifex:
      return doIfex(f, element);
    case Directive::Ifdef:
      return doIfdef(f, element, false);
    case Directive::Ifndef:
      return doIfdef(f, element, true);
    case Directive::Switch:
      return doSwitch(f, element);
    case Directive::Include:
      return doInclude(f, element);
    case Directive::Define:
      return doDefine(f, element);
    case Directive::For:
      return doFor(f, element);
    case Directive::Xmldef:
      return doXmldef(f, element);
    case Directive::Xmlput:
      return doXmlput(f, element);
    case Directive::Foreach:
      return doForeach(f, element);
    case Directive::None:
      break;
  }
}

void Walker::finishFrame(Frame& parent, const Finish& finish) {
  switch (finish.kind) {
    case Finish::Kind::Keep:
      parent.prev = finish.source;
      parent.node = finish.source->next;
      break;
    case Finish::Kind::Replace:
      spliceChildren(parent, finish.source, finish.directive);
      break;
    case Finish::Kind::Include:
      finishInclude(parent, finish);
      break;
    case Finish::Kind::None:
      break;
  }
}

void Walker::pushChildFrame(XMLNode* first, Scope scope, bool expansion,
                            std::shared_ptr<const std::string> fileName, int includeDepth,
                            int xmlputDepth, const Finish& finish) {
  frames_.push_back(Frame{first, nullptr, std::move(scope), std::move(fileName), expansion,
                          includeDepth, xmlputDepth, finish});
}

void Walker::keep(std::size_t f, XMLElement* element) {
  Frame& fr = frames_[f];
  if (!element->firstChild) {
    fr.prev = element;
    fr.node = element->next;
    return;
  }
  Finish finish;
  finish.kind = Finish::Kind::Keep;
  finish.source = element;
  pushChildFrame(element->firstChild, fr.scope, fr.expansion, fr.fileName, fr.includeDepth,
                 fr.xmlputDepth, finish);
}

void Walker::remove(std::size_t f, XMLElement* element) {
  Frame& fr = frames_[f];
  XMLNode* next = element->next;
  if (fr.prev) {
    fr.prev->next = next;
  } else if (element->parent) {
    element->parent->firstChild = next;
  }
  element->next = nullptr;
  fr.node = next;
}

void Walker::replaceByChildren(std::size_t f, XMLElement* source, XMLElement* directive) {
  Frame& fr = frames_[f];
  if (!source->firstChild) return spliceChildren(fr, source, directive);
  Finish finish;
  finish.kind = Finish::Kind::Replace;
  finish.source = source;
  finish.directive = directive;
  pushChildFrame(source->firstChild, fr.scope, fr.expansion, fr.fileName, fr.includeDepth,
                 fr.xmlputDepth, finish);
}

void Walker::spliceChildren(Frame& fr, XMLElement* source, XMLElement* directive) {
  XMLNode* next = directive->next;
  XMLNode* last = nullptr;
  if (XMLNode* first = source->firstChild) {
    for (XMLNode* child = first; child; child = child->next) {
      child->parent = directive->parent;
      last = child;
    }
    last->next = directive->next;
    directive->next = first;
    source->firstChild = nullptr;
  }
  // The directive leaves the chain; what stood after it (the moved children, then `next`) stays.
  XMLNode* after = directive->next;
  if (fr.prev) {
    fr.prev->next = after;
  } else if (directive->parent) {
    directive->parent->firstChild = after;
  }
  directive->next = nullptr;
  fr.node = next;
  if (last) fr.prev = last;
}
