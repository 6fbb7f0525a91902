// The include and definition directives: "include", "define", "xmldef" and "xmlput".

#include "Walk.h"
#include "macros/MacroList.h"
#include "xml/FilePath.h"

Walk::ContentSetup Walk::contentSetup(const XMLElement* directive, const Frame& fr) const {
  if (!fr.expansion && !directive->hasAttribute("expand_macros")) {
    return {fr.scope, false, false};
  }
  if (directive->hasAttribute("macros")) {
    Scope scope = fr.scope;
    MacroMap extra = parseMacroList(withoutLineFeeds(attributeText(directive, "macros")));
    if (!extra.empty()) {
      MacroMap& map = scope.mutableMap();
      for (auto& [name, value] : extra)
        map.insert_or_assign(name, std::move(value));
    }
    return {std::move(scope), true, true};
  }
  return {fr.scope, fr.expansion, fr.expansion};
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
  ContentSetup setup = contentSetup(directive, fr);
  if (setup.expandRoot) expandAttributes(root, setup.scope.map());
  if (!root->firstChild) return finishInclude(fr, finish);
  pushChildFrame(root->firstChild, std::move(setup.scope), setup.expansion,
                 std::make_shared<const std::string>(path), fr.includeDepth + 1, fr.xmlputDepth,
                 finish);
  return true;
}

bool Walk::finishInclude(Frame& fr, const Finish& finish) {
  XMLElement* root = finish.source;
  const XMLElement* directive = finish.directive;
  forEachItem(attributeText(directive, "inherit_attributes"), ';', [&](std::string_view name) {
    const XMLAttribute* inherited = directive->find(name);
    if (inherited && !inherited->isNull()) {
      root->setAttribute(doc_.arena(), name, inherited->value, false);
    } else {
      root->setAttribute(doc_.arena(), name, std::string_view(), true);
    }
  });
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
  Scope& scope = frames_[f].scope;
  std::string_view name = attributeText(directive, "name");
  if (directive->hasAttribute("value")) {
    scope.set(name, std::string(attributeText(directive, "value")));
  } else if (directive->hasAttribute("expression") || directive->hasAttribute("hex_expression")) {
    bool hex = !directive->hasAttribute("expression");
    std::string text =
        expand(scope, attributeText(directive, hex ? "hex_expression" : "expression"));
    // The low 32 bits of the value, in decimal or as "0x" and upper-case hexadecimal.
    if (const std::optional<std::uint64_t> value = evaluator_.unsignedValue(text)) {
      const auto low = static_cast<std::uint32_t>(*value);
      char digits[10];
      scope.set(name, hex ? std::string(formatUpperHex(low, digits)) : std::to_string(low));
    }
  } else {
    return fail("missing value or expression in <define>");
  }
  return remove(f, directive);
}

bool Walk::doXmldef(std::size_t f, XMLElement* directive) {
  if (!directive->hasAttribute("name")) return keep(f, directive);
  // The registry has no scopes: a later definition of the name replaces an earlier one.
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
  ContentSetup setup = contentSetup(directive, fr);
  Finish finish;
  finish.kind = Finish::Kind::Replace;
  finish.source = copy;
  finish.directive = directive;
  pushChildFrame(copy->firstChild, std::move(setup.scope), setup.expansion, fr.fileName,
                 fr.includeDepth, fr.xmlputDepth + 1, finish);
  return true;
}
