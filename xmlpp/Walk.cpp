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

// Strict mode's check of a file just loaded into `document`: it must hold an element and close
// every element it opens.
std::optional<Failure> strictLoadCheck(const XMLDocument& document, const std::string& path) {
  if (document.unclosed) {
    return Failure{endsInsideMessage(path, *document.unclosed),
                   {location("at", path, document.unclosed->line)},
                   true};
  }
  if (!document.root) return Failure{"xmlpp: " + path + " holds no element", {}, true};
  return std::nullopt;
}

}  // namespace

std::string location(std::string_view what, std::string_view file, std::int32_t line) {
  return std::string(what) + " " + std::string(file) + ":" + std::to_string(line + 1);
}

std::string endsInsideMessage(const std::string& path, const XMLDocument::OpenElement& open) {
  return "xmlpp: " + path + " ends inside <" + std::string(open.name) + ">, opened on line " +
         std::to_string(open.line + 1);
}

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
    Failure failure{
        "load error " + document_.errorText + " at " + std::to_string(document_.errorLine),
        {},
        false};
    // A file that could be read has a position for its error.
    if (document_.errorAt)
      failure.locations.push_back(location("at", fileName, *document_.errorAt));
    return failure;
  }
  if (strict_) {
    if (std::optional<Failure> failure = strictLoadCheck(document_, fileName)) return failure;
  }
  Walk walk(document_, environment_, loadedFiles_, strict_);
  return walk.run(fileName, parseMacroList(macroList));
}

void Walk::expandAttributes(XMLElement* element) {
  unresolved_.clear();
  XMLAttribute* attributes = element->attributes();
  for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
    XMLAttribute& a = attributes[i];
    if (a.isNull() || a.value().find('$') == std::string_view::npos) continue;
    env_.expand(macros_, a.value(), false, buffer_, strict_ ? &reference_ : nullptr);
    if (buffer_ != a.value()) a.setValue(doc_.duplicateString(buffer_));
    if (!reference_.empty()) unresolved_.push_back(Unresolved{reference_, a.name()});
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

bool Walk::failUnresolved(const Unresolved& unresolved, const XMLElement* element,
                          std::size_t frame) {
  return fail("xmlpp: unresolved " + unresolved.reference + " in attribute " +
                  std::string(unresolved.attribute) + " of <" + std::string(element->name()) + ">",
              locate(element, frame), true);
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
  auto expanded = [&](const XMLAttribute& a) {
    const std::string_view value = a.isNull() ? std::string_view("") : a.value();
    return XMLAttribute{a.name(), expandWithLoopMaps(value, current_.get(), &macros)};
  };
  return static_cast<XMLElement*>(
      XMLDocument::copyTree(element, [&](const XMLNode* node) -> XMLNode* {
        if (!node->isElement()) return nullptr;  // loops copy elements only
        return doc_.copyAttributes(static_cast<const XMLElement*>(node), expanded);
      }));
}

bool Walk::fail(std::string message) {
  return failAt(dispatched_, dispatchedFrame_, std::move(message));
}

bool Walk::failAt(const XMLElement* element, std::size_t frame, std::string message) {
  return fail("XmlPP::processConditionals(): " + std::move(message), locate(element, frame));
}

bool Walk::fail(std::string message, std::vector<std::string> locations, bool strict) {
  failure_ = Failure{std::move(message), std::move(locations), strict};
  return false;
}

std::vector<std::string> Walk::locate(const XMLElement* element, std::size_t frame) const {
  std::vector<std::string> lines{
      location("at", *frames_[frame].context.sourceFile, doc_.lineOf(element))};
  // A frame for the content of an include or xmlput was pushed by the directive, an element of
  // the chain of the frame below it.
  for (std::size_t i = frame; i > 0; --i) {
    const Finish& finish = frames_[i].finish;
    if (finish.kind != Finish::Kind::Include && finish.kind != Finish::Kind::Put) continue;
    lines.push_back(location(finish.kind == Finish::Kind::Put ? "put from" : "included from",
                             *frames_[i - 1].context.sourceFile, doc_.lineOf(finish.directive)));
  }
  return lines;
}

std::optional<Failure> Walk::run(const std::string& fileName, const MacroMap& macros) {
  macros_ = MacroTable(macros);
  const std::string* file = keptPath(fileName);
  frames_.push_back(Frame{doc_.root, nullptr, Context{file, file, {}, 0, 0}, Finish{}, {}});
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
  dispatched_ = element;
  dispatchedFrame_ = f;
  LoopMapsPtr maps = fr.context.loopMaps;
  if (!fr.handedOver.empty() && fr.handedOver.back().element == element) {
    maps = std::move(fr.handedOver.back().maps);
    fr.handedOver.pop_back();
  }
  if (maps) applyLoopMaps(element, *maps);
  current_ = std::move(maps);
  expandAttributes(element);
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
    case Finish::Kind::Put:
      return spliceChildren(parent, finish.source, finish.directive);
    case Finish::Kind::Include:
      return finishInclude(parent, finish);
    case Finish::Kind::None:
      break;
  }
  return true;
}

void Walk::pushChildFrame(XMLNode* first, Context context, const Finish& finish) {
  macros_.enterScope();
  frames_.push_back(Frame{first, nullptr, std::move(context), finish, {}});
}

bool Walk::keep(std::size_t f, XMLElement* element) {
  Frame& fr = frames_[f];
  // A kept element is written out as its values stand now (strict mode checks them).
  if (!unresolved_.empty()) return failUnresolved(unresolved_.front(), element, f);
  if (!element->firstChild) {
    fr.prev = element;
    fr.node = element->next;
    return true;
  }
  const Finish finish{Finish::Kind::Keep, element, nullptr};
  Context context = fr.context;
  context.loopMaps = current_;
  pushChildFrame(element->firstChild, std::move(context), finish);
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
  const Finish finish{Finish::Kind::Replace, source, directive};
  Context context = fr.context;
  context.loopMaps = current_;
  pushChildFrame(source->firstChild, std::move(context), finish);
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
