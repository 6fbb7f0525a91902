// The include and definition directives: "include", "define", "xmldef" and "xmlput".

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Walk.h"
#include "macros/MacroList.h"
#include "xml/FilePath.h"

void Walk::pushContentFrame(XMLNode* first, const XMLElement* directive, Context context,
                            const Finish& finish) {
  // Included files and fragments are new content: no loop maps apply to them.
  context.loopMaps = nullptr;
  pushChildFrame(first, std::move(context), finish);
  if (directive->hasAttribute("macros")) {
    for (const auto& [name, value] :
         parseMacroList(withoutLineFeeds(attributeText(directive, "macros"))))
      macros_.set(name, value);
  }
}

const std::string* Walk::keptPath(const std::string& path) {
  const auto [kept, added] = paths_.insert(path);
  if (added) loadedFiles_.push_back(path);
  return &*kept;
}

std::vector<std::string> Walk::locateInside(const std::string& path, std::int32_t line,
                                            const XMLElement* include, std::size_t frame) const {
  std::vector<std::string> lines = locate(include, frame);
  lines.front().replace(0, 2, "included from");
  lines.insert(lines.begin(), location("at", path, line));
  return lines;
}

bool Walk::failLoad(const std::string& path, bool loaded, const XMLElement* include,
                    std::size_t frame) {
  // A file that holds something has a position for what went wrong; one that cannot be read or
  // is empty is located at the include element.
  std::string message;
  std::optional<std::int32_t> line;
  if (!doc_.root) {
    message = "error: include file '" + path + "' is empty";
    if (!loaded) {
      line = doc_.errorAt;
    } else if (doc_.unclosed) {
      line = doc_.unclosed->line;
    }
  } else {
    message = "error \"" + doc_.errorText + "\" in include file " + path +
              " line:" + std::to_string(doc_.errorLine);
    line = doc_.errorAt;  // unset for a file that could not be read
  }
  return fail("XmlPP::processConditionals(): " + message,
              line ? locateInside(path, *line, include, frame) : locate(include, frame));
}

bool Walk::doInclude(std::size_t f, XMLElement* directive) {
  if (!directive->hasAttribute("filename")) return fail("missing filename in <include>");
  std::string name = env_.expandWithSystemMacros(attributeText(directive, "filename"));
  // Relative names are joined to the including file's directory by plain prefixing, never
  // normalised, so messages show the path exactly as it was opened.
  std::string path =
      name.starts_with('/') ? name : directoryOf(*frames_[f].context.fileName) + "/" + name;
  if (frames_[f].context.includeDepth >= kMaxNesting) {
    return fail("include nesting deeper than " + std::to_string(kMaxNesting) + " at " + path);
  }
  // Strict mode: the include element's unresolved references, which the root may inherit.
  std::vector<Unresolved> given;
  given.swap(unresolved_);
  XMLElement* previousRoot = doc_.root;
  const bool loaded = doc_.load(path);
  // Strict mode: a file read to its end must close what it opens (its root, when it has none).
  if (strict_ && loaded && doc_.unclosed) {
    return fail(endsInsideMessage(path, *doc_.unclosed),
                locateInside(path, doc_.unclosed->line, directive, f), true);
  }
  // A failed load reports its own error only when it completed a root element before it.
  if (!doc_.root || !loaded) return failLoad(path, loaded, directive, f);
  Frame& fr = frames_[f];
  XMLElement* root = doc_.root;
  if (directive != previousRoot) {
    // The included root takes the include element's place in the chain.
    root->parent = directive->parent;
    root->next = directive->next;
    if (fr.prev) {
      fr.prev->next = root;
    } else {
      directive->parent->firstChild = root;
    }
    doc_.root = previousRoot;
  }
  fr.node = root;
  const Finish finish{Finish::Kind::Include, root, directive, root->name() == "envelope"};
  // The content is walked in a scope of its own, which a childless root leaves at once; the
  // root's own attributes are expanded in it too.
  const std::string* file = keptPath(path);
  Context context = fr.context;
  context.fileName = file;
  context.sourceFile = file;
  ++context.includeDepth;
  pushContentFrame(root->firstChild, directive, std::move(context), finish);
  expandAttributes(root);
  // The root is written out unless it is unwrapped.
  const bool written = !finish.unwrap && !directive->hasAttribute("no_root");
  if (written && strict_) return checkWrittenRoot(root, directive, given, f);
  return true;
}

bool Walk::checkWrittenRoot(const XMLElement* root, const XMLElement* directive,
                            const std::vector<Unresolved>& given, std::size_t f) {
  if (unresolved_.empty() && given.empty()) return true;
  // Inherited attributes replace the root's own of the same name.
  std::unordered_set<std::string_view> inherited;
  forEachItem(attributeText(directive, "inherit_attributes"), ';',
              [&](std::string_view name) { inherited.insert(name); });
  for (const Unresolved& u : unresolved_) {
    if (!inherited.contains(u.attribute)) return failUnresolved(u, root, frames_.size() - 1);
  }
  // A reference that comes with an inherited value is reported where it is written.
  for (const Unresolved& u : given) {
    if (inherited.contains(u.attribute)) return failUnresolved(u, directive, f);
  }
  return true;
}

void Walk::inheritAttributes(XMLElement* root, const XMLElement* directive) {
  const std::string_view list = attributeText(directive, "inherit_attributes");
  if (list.empty()) return;
  // Names are looked up through hash tables, so a long list costs no more than its length.
  std::unordered_map<std::string_view, const XMLAttribute*> given;
  for (std::uint32_t i = 0; i < directive->attributeCount(); ++i)
    given.emplace(directive->attributes()[i].name(), &directive->attributes()[i]);
  std::vector<XMLAttribute> merged(root->attributes(), root->attributes() + root->attributeCount());
  std::unordered_map<std::string_view, std::size_t> position;
  for (std::size_t k = 0; k < merged.size(); ++k)
    position.emplace(merged[k].name(), k);
  forEachItem(list, ';', [&](std::string_view name) {
    // A name the include element lacks gives an attribute without a value.
    const auto it = given.find(name);
    const std::string_view value =
        it != given.end() && !it->second->isNull() ? it->second->value() : std::string_view();
    const auto [at, added] = position.emplace(name, merged.size());
    if (added) {
      merged.emplace_back(name, value);
    } else {
      merged[at->second] = XMLAttribute(merged[at->second].name(), value);
    }
  });
  const auto count = static_cast<std::uint32_t>(merged.size());
  XMLAttribute* records = doc_.arena().allocateArray<XMLAttribute>(count);
  std::copy(merged.begin(), merged.end(), records);
  root->adoptAttributes(records, count);
}

bool Walk::finishInclude(Frame& fr, const Finish& finish) {
  XMLElement* root = finish.source;
  const XMLElement* directive = finish.directive;
  inheritAttributes(root, directive);
  const bool unwrap = finish.unwrap || directive->hasAttribute("no_root");
  if (unwrap && !root->parent) {
    // The walk has been through the root's content since the include was carried out.
    return failAt(directive, frames_.size() - 1,
                  "<" + std::string(root->name()) + "> cannot be the root element");
  }
  if (unwrap) return spliceChildren(fr, root, root);
  fr.prev = root;
  fr.node = root->next;
  return true;
}

bool Walk::doDefine(std::size_t f, XMLElement* directive) {
  if (!directive->hasAttribute("name")) return fail("missing name in <define>");
  std::string_view name = attributeText(directive, "name");
  if (directive->hasAttribute("value")) {
    macros_.set(name, attributeText(directive, "value"));
  } else if (directive->hasAttribute("expression") || directive->hasAttribute("hex_expression")) {
    bool hex = !directive->hasAttribute("expression");
    std::string text = expand(attributeText(directive, hex ? "hex_expression" : "expression"));
    // The low 32 bits of the value, in decimal or as "0x" and upper-case hexadecimal.
    if (const std::optional<std::uint64_t> value = evaluator_.unsignedValue(text)) {
      const auto low = static_cast<std::uint32_t>(*value);
      char digits[10];
      macros_.set(name, hex ? formatUpperHex(low, digits) : std::to_string(low));
    }
  } else {
    return fail("missing value or expression in <define>");
  }
  return remove(f, directive);
}

bool Walk::doXmldef(std::size_t f, XMLElement* directive) {
  if (!directive->hasAttribute("name")) return keep(f, directive);
  // The registry has no scopes: a later definition of the name replaces an earlier one. The
  // fragment is registered as a loop's copy would have held it.
  if (current_) applyLoopMapsBelow(directive, *current_);
  const Context& context = frames_[f].context;
  fragments_.insert_or_assign(std::string(attributeText(directive, "name")),
                              Fragment{directive, context.sourceFile});
  return remove(f, directive);
}

bool Walk::doXmlput(std::size_t f, XMLElement* directive) {
  if (!directive->hasAttribute("name")) return keep(f, directive);
  std::string_view name = attributeText(directive, "name");
  auto it = fragments_.find(name);
  if (it == fragments_.end()) return fail("xmlput cannot fine xmldef named " + std::string(name));
  Frame& fr = frames_[f];
  if (fr.context.xmlputDepth >= kMaxNesting) {
    return fail("xmlput nesting deeper than " + std::to_string(kMaxNesting) + " at " +
                std::string(name));
  }
  // Every use starts from a fresh copy of the registered fragment.
  const Fragment& fragment = it->second;
  XMLElement* copy = doc_.copyElement(fragment.element);
  if (!copy->firstChild) return spliceChildren(fr, copy, directive);
  const Finish finish{Finish::Kind::Put, copy, directive};
  // Includes in the fragment still resolve against the file of the xmlput; its elements were
  // written in the fragment's file.
  Context context = fr.context;
  context.sourceFile = fragment.file;
  ++context.xmlputDepth;
  pushContentFrame(copy->firstChild, directive, std::move(context), finish);
  return true;
}
