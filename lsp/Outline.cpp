// Completion and document symbols: what the document's text and the run's names offer.

#include <algorithm>
#include <set>

#include "Features.h"
#include "xml/TagText.h"

namespace {

using json = nlohmann::json;
using tagtext::isNameByte;

enum CompletionKind { kKeyword = 14, kProperty = 10, kVariable = 6 };
enum SymbolKind { kFile = 1, kNamespace = 3, kFunction = 12, kConstant = 14 };

json item(std::string_view label, int kind, std::string_view detail) {
  return {{"label", label}, {"kind", kind}, {"detail", detail}};
}

// The variables a loop directive defines in its body (none for another directive).
void addLoopVariables(const Reached& directive, std::set<std::string>& names) {
  for (const auto& [attribute, value] : directive.attributes) {
    if (directive.directive == DirectiveId::Foreach) names.insert(attribute);
    if (directive.directive == DirectiveId::For && attribute == attr::kIndex) {
      for (const std::string_view suffix : ::directive(DirectiveId::For).loopSuffixes)
        names.insert(value + std::string(suffix));
    }
  }
}

// The macro names the run knows: the command's, those defined, and the loop variables.
std::set<std::string> macroNames(const Analysis& analysis) {
  std::set<std::string> names;
  for (const auto& [name, value] : analysis.topLevel)
    names.insert(name);
  for (const auto& [place, use] : analysis.uses) {
    for (const UsedValue& value : use.values) {
      if (value.defined) names.insert(use.name);
    }
  }
  for (const Reached& directive : analysis.directives) {
    for (const auto& [attribute, value] : directive.attributes) {
      if (directive.directive == DirectiveId::Define && attribute == attr::kName) {
        names.insert(value);
      }
    }
    addLoopVariables(directive, names);
  }
  names.erase("");
  return names;
}

// The names the run had in scope at the start tag that holds `offset`, when it reached it.
const std::set<std::string>* scopeAtTag(const Analysis& analysis, const std::string& path,
                                        const std::string& text, std::size_t offset) {
  std::size_t i = offset;
  const std::size_t limit = i > tagtext::kMaxTagLength ? i - tagtext::kMaxTagLength : 0;
  while (i > limit && text[i - 1] != '<' && text[i - 1] != '>')
    --i;
  if (i == 0 || text[i - 1] != '<') return nullptr;
  const auto found = analysis.scopesAtUnfinished.find(Place{path, i});
  return found == analysis.scopesAtUnfinished.end() ? nullptr : &found->second;
}

// The names to offer after "$(" at `offset`: those in scope at the start tag there where the
// run reached it, with the variables of the loops around it (a loop's variables reach its
// copies through the copy, not through the scope); where the run did not reach the tag, every
// name the run knows.
std::set<std::string> namesAt(const Analysis& analysis, const std::string& path,
                              const std::string& text, std::size_t offset) {
  const std::set<std::string>* scope = scopeAtTag(analysis, path, text, offset);
  if (!scope) return macroNames(analysis);
  std::set<std::string> names = *scope;
  const std::vector<std::size_t> open = tagtext::openElementsAt(text, offset);
  for (const Reached& directive : analysis.directives) {
    if (directive.at.file == path &&
        std::binary_search(open.begin(), open.end(), directive.at.offset)) {
      addLoopVariables(directive, names);
    }
  }
  names.erase("");
  return names;
}

}  // namespace

json completion(const FeatureContext& context, const PositionRequest& request) {
  const std::string& text = context.document.text();
  const std::size_t offset = context.document.offsetOf(*request.position);
  std::size_t start = offset;
  while (start > 0 && isNameByte(text[start - 1]))
    --start;
  json items = json::array();
  if (start >= 2 && text[start - 1] == '(' && text[start - 2] == '$') {
    if (!context.analysis) return items;
    for (const std::string& name : namesAt(*context.analysis, context.path, text, start))
      items.push_back(item(name, kVariable, "macro"));
    return items;
  }
  if (start >= 1 && text[start - 1] == '<') {
    for (const Directive& directive : kDirectives)
      items.push_back(item(directive.name, kKeyword, directive.summary));
    return items;
  }
  // Inside a directive's start tag, outside a value: its attributes.
  std::size_t i = start;
  const std::size_t limit = i > tagtext::kMaxTagLength ? i - tagtext::kMaxTagLength : 0;
  while (i > limit && text[i - 1] != '<' && text[i - 1] != '>')
    --i;
  if (i == 0 || text[i - 1] != '<') return items;
  const std::string_view before(text.data() + i, start - i);
  if (std::count(before.begin(), before.end(), '"') % 2 != 0 ||
      std::count(before.begin(), before.end(), '\'') % 2 != 0) {
    return items;
  }
  const std::string_view name = tagtext::tagName(before);
  if (name.size() == before.size()) return items;  // still in the name
  if (const Directive* directive = directiveNamed(name)) {
    for (const DirectiveAttribute& attribute : directive->attributes) {
      if (attribute.name.empty()) continue;
      items.push_back(item(attribute.name, kProperty, "attribute of <" + std::string(name) + ">"));
    }
  }
  return items;
}

json documentSymbols(const FeatureContext& context, const PositionRequest&) {
  const std::string& text = context.document.text();
  json symbols = json::array();
  const TextLines& lines = context.document.lines();
  std::size_t at = text.find('<');
  while (at != std::string::npos) {
    const std::string_view rest = std::string_view(text).substr(at);
    if (rest.starts_with("<!--") || rest.starts_with("<![CDATA[")) {
      const std::size_t end = text.find(rest[3] == '-' ? "-->" : "]]>", at);
      if (end == std::string::npos) break;
      at = text.find('<', end);
      continue;
    }
    const std::string_view tag = tagtext::startTag(text, at + 1);
    const std::string_view name = tagtext::tagName(tag);
    int kind = 0;
    std::string label;
    std::string_view labelAttribute = attr::kName;
    const Directive* directive = directiveNamed(name);
    switch (directive ? directive->id : DirectiveId::If) {
      case DirectiveId::Define:
        kind = kConstant;
        break;
      case DirectiveId::Xmldef:
        kind = kFunction;
        break;
      case DirectiveId::Include:
        kind = kFile, labelAttribute = attr::kFilename;
        break;
      case DirectiveId::For:
        kind = kNamespace, labelAttribute = attr::kIndex;
        break;
      case DirectiveId::Foreach:
        kind = kNamespace, labelAttribute = "";
        break;
      default:
        break;
    }
    if (kind != 0) {
      std::size_t selection = at + 1;
      std::size_t selectionEnd = at + 1 + name.size();
      tagtext::forEachAttribute(tag, [&](std::string_view attribute, std::size_t nameAt,
                                         std::string_view value, std::size_t valueAt) {
        if (labelAttribute.empty() && label.empty()) {
          label = attribute, selection = at + 1 + nameAt, selectionEnd = selection + value.size();
        } else if (attribute == labelAttribute) {
          label = value, selection = at + 1 + valueAt, selectionEnd = selection + value.size();
        }
      });
      if (label.empty()) label = "<" + std::string(name) + ">";
      const std::size_t end = std::min(text.size(), at + 2 + tag.size());
      symbols.push_back({{"name", label},
                         {"detail", name},
                         {"kind", kind},
                         {"range", rangeJson(lines, at, end)},
                         {"selectionRange", rangeJson(lines, selection, selectionEnd)}});
    }
    at = text.find('<', at + 1);
  }
  return symbols;
}
