#include "Walk.h"

#include <algorithm>

#include "macros/MacroList.h"

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

std::string_view attributeText(const XMLElement* element, std::string_view name) {
  return element->attribute(name).value_or(std::string_view());
}

std::optional<Failure> Preprocessor::run(const std::string& fileName, std::string_view macroList) {
  if (!document_.load(fileName)) {
    return Failure{"load error " + document_.errorText + " at " +
                   std::to_string(document_.errorLine)};
  }
  loadedFiles_.push_back(fileName);
  Walk walk(document_, environment_, fragments_, loadedFiles_);
  return walk.run(fileName, parseMacroList(macroList));
}

void Walk::expandAttributes(XMLElement* element) {
  XMLAttribute* attributes = element->attributes();
  for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
    XMLAttribute& a = attributes[i];
    if (a.isNull() || a.value().find('$') == std::string_view::npos) continue;
    env_.expand(macros_, a.value(), false, buffer_);
    if (buffer_ != a.value()) a.setValue(doc_.duplicateString(buffer_));
  }
}

Walk::LoopMaps::~LoopMaps() {
  // A chain of maps as long as loops are nested is released link by link, not by destructors
  // calling one another.
  LoopMapsPtr next = std::move(outer);
  while (next && next.use_count() == 1) {
    LoopMapsPtr after = std::move(next->outer);
    next = std::move(after);
  }
}

std::string_view Walk::expandWithLoopMaps(std::string_view value, const LoopMaps* maps,
                                          const MacroTable* last) {
  // Expansion leaves a value without "$" as it is, so such a value is shared.
  if (value.find('$') == std::string_view::npos) return value;
  if (!maps) {  // a copy of a body whose loop has no loop around it: its own iteration only
    env_.expand(*last, value, false, buffer_);
    return doc_.duplicateString(buffer_);
  }
  mapChain_.clear();
  for (; maps; maps = maps->outer.get())
    mapChain_.push_back(&maps->table);
  std::reverse(mapChain_.begin(), mapChain_.end());
  if (last) mapChain_.push_back(last);
  std::string text(value);
  for (const MacroTable* table : mapChain_) {
    if (text.find('$') == std::string::npos) break;
    env_.expand(*table, text, false, buffer_);
    text.swap(buffer_);
  }
  return doc_.duplicateString(text);
}

void Walk::applyLoopMaps(XMLElement* element, const LoopMaps& maps) {
  XMLAttribute* attributes = element->attributes();
  for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
    XMLAttribute& a = attributes[i];
    a.setValue(expandWithLoopMaps(a.isNull() ? std::string_view("") : a.value(), &maps, nullptr));
  }
  // Loops copy elements only.
  XMLNode** link = &element->firstChild;
  while (*link) {
    if ((*link)->isElement()) {
      link = &(*link)->next;
    } else {
      *link = (*link)->next;
    }
  }
}

void Walk::applyLoopMapsBelow(XMLElement* element, const LoopMaps& maps) {
  std::vector<XMLElement*> stack{element};
  while (!stack.empty()) {
    XMLElement* next = stack.back();
    stack.pop_back();
    if (next != element) applyLoopMaps(next, maps);
    for (XMLNode* child = next->firstChild; child; child = child->next)
      stack.push_back(static_cast<XMLElement*>(child));
  }
}

XMLElement* Walk::copyWithMacros(const XMLElement* element, const MacroTable& macros) {
  auto copyOne = [&](const XMLElement* source) {
    XMLElement* copy = doc_.createElement(source->name());
    std::uint32_t count = source->attributeCount();
    if (count) {
      XMLAttribute* records = doc_.arena().allocateArray<XMLAttribute>(count);
      for (std::uint32_t i = 0; i < count; ++i) {
        const XMLAttribute& a = source->attributes()[i];
        std::string_view value = a.isNull() ? std::string_view("") : a.value();
        records[i] = XMLAttribute{a.name(), expandWithLoopMaps(value, current_.get(), &macros)};
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

bool Walk::fail(std::string message) {
  failure_ = Failure{"XmlPP::processConditionals(): " + std::move(message)};
  return false;
}

std::optional<Failure> Walk::run(const std::string& fileName, const MacroMap& macros) {
  macros_ = MacroTable(macros);
  // The walk always expands attribute values; only an include or xmlput content walked without
  // expansion (see contentSetup) switches it off below.
  frames_.push_back(Frame{doc_.root,
                          nullptr,
                          std::make_shared<std::string>(fileName),
                          nullptr,
                          true,
                          0,
                          0,
                          Finish{},
                          {}});
  while (true) {
    std::size_t top = frames_.size() - 1;
    if (!frames_[top].node) {
      if (top == 0) break;
      Finish finish = frames_[top].finish;
      frames_.pop_back();
      macros_.leaveScope();
      if (!finishFrame(frames_.back(), finish)) return failure_;
      continue;
    }
    if (!step(top)) return failure_;
  }
  return std::nullopt;
}

bool Walk::step(std::size_t f) {
  Frame& fr = frames_[f];
  XMLNode* node = fr.node;
  if (!node->isElement()) {
    fr.prev = node;
    fr.node = node->next;
    return true;
  }
  auto* element = static_cast<XMLElement*>(node);
  LoopMapsPtr maps = fr.loopMaps;
  if (!fr.handedOver.empty() && fr.handedOver.back().element == element) {
    maps = std::move(fr.handedOver.back().maps);
    fr.handedOver.pop_back();
  }
  if (maps) applyLoopMaps(element, *maps);
  current_ = std::move(maps);
  if (fr.expansion) expandAttributes(element);
  Directive directive = directiveOf(element->name());
  if (directive == Directive::None) return keep(f, element);
  if (!element->parent && directive != Directive::Include) {
    // A directive must have a parent to splice into or to be removed from.
    return fail("<" + std::string(element->name()) + "> cannot be the root element");
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
  return true;
}

bool Walk::finishFrame(Frame& parent, const Finish& finish) {
  switch (finish.kind) {
    case Finish::Kind::Keep:
      parent.prev = finish.source;
      parent.node = finish.source->next;
      return true;
    case Finish::Kind::Replace:
      return spliceChildren(parent, finish.source, finish.directive);
    case Finish::Kind::Include:
      return finishInclude(parent, finish);
    case Finish::Kind::None:
      break;
  }
  return true;
}

void Walk::pushChildFrame(XMLNode* first, LoopMapsPtr loopMaps, bool expansion,
                          std::shared_ptr<const std::string> fileName, int includeDepth,
                          int xmlputDepth, const Finish& finish) {
  macros_.enterScope();
  frames_.push_back(Frame{first,
                          nullptr,
                          std::move(fileName),
                          std::move(loopMaps),
                          expansion,
                          includeDepth,
                          xmlputDepth,
                          finish,
                          {}});
}

bool Walk::keep(std::size_t f, XMLElement* element) {
  Frame& fr = frames_[f];
  if (!element->firstChild) {
    fr.prev = element;
    fr.node = element->next;
    return true;
  }
  Finish finish;
  finish.kind = Finish::Kind::Keep;
  finish.source = element;
  pushChildFrame(element->firstChild, current_, fr.expansion, fr.fileName, fr.includeDepth,
                 fr.xmlputDepth, finish);
  return true;
}

bool Walk::remove(std::size_t f, XMLElement* element) {
  Frame& fr = frames_[f];
  XMLNode* next = element->next;
  if (fr.prev) {
    fr.prev->next = next;
  } else if (element->parent) {
    element->parent->firstChild = next;
  }
  element->next = nullptr;
  fr.node = next;
  return true;
}

bool Walk::replaceByChildren(std::size_t f, XMLElement* source, XMLElement* directive) {
  Frame& fr = frames_[f];
  if (!source->firstChild) return spliceChildren(fr, source, directive);
  Finish finish;
  finish.kind = Finish::Kind::Replace;
  finish.source = source;
  finish.directive = directive;
  pushChildFrame(source->firstChild, current_, fr.expansion, fr.fileName, fr.includeDepth,
                 fr.xmlputDepth, finish);
  return true;
}

bool Walk::spliceChildren(Frame& fr, XMLElement* source, XMLElement* directive) {
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
  return true;
}
