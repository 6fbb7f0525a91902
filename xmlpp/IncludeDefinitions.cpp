// The include and definition directives: "include", "define", "xmldef" and "xmlput".

#include "driver/MacroList.h"
#include "xml/FilePath.h"
#include "xmlpp/Walker.h"

Walker::ContentSetup Walker::contentSetup(const XMLElement* directive, const Frame& fr) const {
  if (!fr.expansion && !directive->hasAttribute("expand_macros")) {
    return {fr.scope, false, false};
  }
  if (directive->hasAttribute("macros")) {
    Scope scope = fr.scope;
    MacroMap extra =
        macroListToMap(splitMacroList(withoutLineFeeds(attributeText(directive, "macros"))));
    if (!extra.empty()) {
      MacroMap& map = scope.mutableMap();
      for (auto& [name, value] : extra)
        map.insert_or_assign(name, std::move(value));
    }
    return {std::move(scope), true, true};
  }
  return {fr.scope, fr.expansion, fr.expansion};
}

void Walker::doInclude(std::size_t f, XMLElement* directive) {
  if (!directive->hasAttribute("filename")) {
    reportError("missing filename in <include>");
    return keep(f, directive);
  }
  std::string name = env_.expandWithSystemMacros(attributeText(directive, "filename"));
  // Relative names are joined to the including file's directory by plain prefixing, never
  // normalised, so messages show the path exactly as it was opened.
  std::string path = name.starts_with('/') ? name : directoryOf(*frames_[f].fileName) + "/" + name;
  if (frames_[f].includeDepth >= kMaxNesting) {
    reportError("include nesting deeper than " + std::to_string(kMaxNesting) + " at " + path);
    return keep(f, directive);
  }
  XMLElement* previousRoot = doc_.root;
  bool loaded = doc_.load(path);
  if (!loaded || !doc_.root) {
    if (!doc_.root) {
      reportError("error: include file '" + path + "' is empty");
    } else {
      reportError("error \"" + doc_.errorText + "\" in include file " + path +
                  " line:" + std::to_string(doc_.errorLine));
    }
    doc_.root = previousRoot;
    if (directive->hasAttribute("no_root")) return replaceByChildren(f, directive, directive);
    return keep(f, directive);
  }
  doc_.loadedFiles.push_back(path);
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
  if (setup.expandRoot) expandElementAttributes(doc_, root, setup.scope.map(), buffer_);
  if (!root->firstChild) return finishInclude(fr, finish);
  pushChildFrame(root->firstChild, std::move(setup.scope), setup.expansion,
                 std::make_shared<const std::string>(path), fr.includeDepth + 1, fr.xmlputDepth,
                 finish);
}

void Walker::finishInclude(Frame& fr, const Finish& finish) {
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
  bool unwrap = finish.unwrap || directive->hasAttribute("no_root");
  if (unwrap && !root->parent) {
    reportError("<" + std::string(root->name()) + "> cannot be the root element");
    unwrap = false;
  }
  if (unwrap) return spliceChildren(fr, root, root);
  fr.prev = root;
  fr.node = root->next;
}

void Walker::doDefine(std::size_t f, XMLElement* directive) {
  if (!directive->hasAttribute("name")) {
    reportError("missing name in <define>");
    return remove(f, directive);
  }
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
      scope.set(name, hex ? upperHex(low) : std::to_string(low));
    }
  } else {
    reportError("missing value or expression in <define>");
  }
  remove(f, directive);
}

void Walker::doXmldef(std::size_t f, XMLElement* directive) {
  if (!directive->hasAttribute("name")) return keep(f, directive);
  // The registry has no scopes: a later definition of the name replaces an earlier one.
  doc_.xmlDefinitions.insert_or_assign(std::string(attributeText(directive, "name")), directive);
  remove(f, directive);
}

void Walker::doXmlput(std::size_t f, XMLElement* directive) {
  if (!directive->hasAttribute("name")) return keep(f, directive);
  std::string_view name = attributeText(directive, "name");
  auto it = doc_.xmlDefinitions.find(name);
  if (it == doc_.xmlDefinitions.end()) {
    reportError("xmlput cannot fine xmldef named " + std::string(name));
    return keep(f, directive);
  }
  Frame& fr = frames_[f];
  if (fr.xmlputDepth >= kMaxNesting) {
    reportError("xmlput nesting deeper than " + std::to_string(kMaxNesting) + " at " +
                std::string(name));
    return keep(f, directive);
  }
  // Every use starts from a fresh copy of the registered fragment.
  auto* copy = static_cast<XMLElement*>(doc_.copyNode(it->second, nullptr));
  if (!copy->firstChild) return spliceChildren(fr, copy, directive);
  ContentSetup setup = contentSetup(directive, fr);
  Finish finish;
  finish.kind = Finish::Kind::Replace;
  finish.source = copy;
  finish.directive = directive;
  pushChildFrame(copy->firstChild, std::move(setup.scope), setup.expansion, fr.fileName,
                 fr.includeDepth, fr.xmlputDepth + 1, finish);
}
