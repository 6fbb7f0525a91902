// The include and definition directives: "include", "define", "xmldef" and "xmlput".

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "Walk.h"
#include "macros/MacroList.h"
#include "xml/FilePath.h"

Walk::ContentSetup Walk::contentSetup(const XMLElement* directive, const Frame& fr) const {
  if (!fr.expansion && !directive->hasAttribute("expand_macros")) return {false, false, {}};
  if (directive->hasAttribute("macros")) {
    return {true, true, parseMacroList(withoutLineFeeds(attributeText(directive, "macros")))};
  }
  return {fr.expansion, fr.expansion, {}};
}

void Walk::pushContentFrame(XMLNode* first, ContentSetup setup,
                            std::shared_ptr<const std::string> fileName, int includeDepth,
                            int xmlputDepth, const Finish& finish) {
  // Included files and fragments are new content: no loop maps apply to them.
  pushChildFrame(first, nullptr, setup.expansion, std::move(fileName), includeDepth, xmlputDepth,
                 finish);
  if (setup.macros) {
    for (const auto& [name, value] : *setup.macros)
      macros_.set(name, value);
  }
}

bool Walk::doInclude(std::size_t f, XMLElement* directive) {
  if (!directive->hasAttribute("filename")) return fail("missing filename in <include>");
  std::string name = env_.expandWithSystemMacros(attributeText(directive, "filename"));
  // Relative names are joined to the including file's directory by plain prefixing, never
  // normalised, so messages show the path exactly as it was opened.
  std::string path = name.starts_with('/') ? name : directoryOf(*frames_[f].fileName) + "/" + name;
  if (frames_[f].includeDepth >= kMaxNesting) {
    return fail("include nesting deeper than " + std::to_string(kMaxNesting) + " at " + path);
  }
  XMLElement* previousRoot = doc_.root;
  const bool loaded = doc_.load(path);
  // A failed load reports its own error only when it completed a root element before it.
  if (!doc_.root) return fail("error: include file '" + path + "' is empty");
  if (!loaded) {
    return fail("error \"" + doc_.errorText + "\" in include file " + path +
                " line:" + std::to_string(doc_.errorLine));
  }
  loadedFiles_.push_back(path);
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
  Finish finish;
  finish.kind = Finish::Kind::Include;
  finish.source = root;
  finish.directive = directive;
  finish.unwrap = root->name() == "envelope";
  // The content is walked in a scope of its own, which a childless root leaves at once; the
  // root's own attributes are expanded in it too.
  ContentSetup setup = contentSetup(directive, fr);
  const bool expandRoot = setup.expandRoot;
  pushContentFrame(root->firstChild, std::move(setup), std::make_shared<const std::string>(path),
                   fr.includeDepth + 1, fr.xmlputDepth, finish);
  if (expandRoot) expandAttributes(root);
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
    return fail("<" + std::string(root->name()) + "> cannot be the root element");
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
  fragments_.insert_or_assign(std::string(attributeText(directive, "name")), directive);
  return remove(f, directive);
}

bool Walk::doXmlput(std::size_t f, XMLElement* directive) {
  if (!directive->hasAttribute("name")) return keep(f, directive);
  std::string_view name = attributeText(directive, "name");
  auto it = fragments_.find(name);
  if (it == fragments_.end()) return fail("xmlput cannot fine xmldef named " + std::string(name));
  Frame& fr = frames_[f];
  if (fr.xmlputDepth >= kMaxNesting) {
    return fail("xmlput nesting deeper than " + std::to_string(kMaxNesting) + " at " +
                std::string(name));
  }
  // Every use starts from a fresh copy of the registered fragment.
  XMLElement* copy = doc_.copyElement(it->second);
  if (!copy->firstChild) return spliceChildren(fr, copy, directive);
  Finish finish;
  finish.kind = Finish::Kind::Replace;
  finish.source = copy;
  finish.directive = directive;
  pushContentFrame(copy->firstChild, contentSetup(directive, fr), fr.fileName, fr.includeDepth,
                   fr.xmlputDepth + 1, finish);
  return true;
}
