#include "Features.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "xml/TagText.h"

namespace {

using json = nlohmann::json;
using tagtext::isNameByte;

json emptyRange() {
  return {{"start", positionJson({})}, {"end", positionJson({})}};
}

// The location of `length` bytes at a place of a file the run read.
json locationOf(const FeatureContext& context, const Place& place, std::size_t length) {
  json location = {{"uri", context.workspace.uriOf(place.file)}, {"range", emptyRange()}};
  if (context.analysis) {
    const auto file = context.analysis->texts.find(place.file);
    if (file != context.analysis->texts.end()) {
      location["range"] = rangeJson(file->second.lines(), place.offset, place.offset + length);
    }
  }
  return location;
}

// The length of what stands at a place: a reference "$(NAME...)" to its ")", else a name.
std::size_t lengthAt(const FeatureContext& context, const Place& place) {
  if (!context.analysis) return 0;
  const auto file = context.analysis->texts.find(place.file);
  if (file == context.analysis->texts.end()) return 0;
  const std::string_view text = file->second.text();
  if (place.offset >= text.size()) return 0;
  if (text.substr(place.offset).starts_with("$(")) {
    const std::size_t close = text.find(')', place.offset);
    if (close != std::string_view::npos && close - place.offset < tagtext::kMaxTagLength) {
      return close + 1 - place.offset;
    }
  }
  return tagtext::tagName(tagtext::startTag(text, place.offset)).size();
}

// What the cursor is on.
struct Cursor {
  enum class Kind { None, Reference, TagName, AttributeName, AttributeValue };
  Kind kind = Kind::None;
  std::string name;       // the macro, element or attribute name
  std::string value;      // AttributeValue: the value as written
  std::size_t at = 0;     // where the reference ("$("), name or value starts
  std::size_t tagAt = 0;  // where the element's name starts (not for a reference outside a tag)
  std::string element;    // the element's name
};

bool referenceAt(std::string_view text, std::size_t offset, Cursor& cursor) {
  std::size_t start = std::min(offset, text.size());
  if (start < text.size() && text[start] == '$' && start + 1 < text.size() &&
      text[start + 1] == '(') {
    start += 2;
  } else if (start < text.size() && text[start] == '(' && start > 0 && text[start - 1] == '$') {
    start += 1;
  }
  while (start > 0 && isNameByte(text[start - 1]))
    --start;
  if (start < 2 || text[start - 1] != '(' || text[start - 2] != '$') return false;
  std::size_t end = start;
  while (end < text.size() && isNameByte(text[end]))
    ++end;
  if (end == start || offset > end) return false;
  cursor.kind = Cursor::Kind::Reference;
  cursor.name = text.substr(start, end - start);
  cursor.at = start - 2;
  return true;
}

// The start tag around `offset`: its name's offset, or nothing outside a tag.
std::optional<std::size_t> tagAround(std::string_view text, std::size_t offset) {
  std::size_t i = std::min(offset, text.size());
  const std::size_t limit = i > tagtext::kMaxTagLength ? i - tagtext::kMaxTagLength : 0;
  while (i > limit) {
    --i;
    if (text[i] == '>') return std::nullopt;
    if (text[i] == '<') {
      if (i + 1 < text.size() && (text[i + 1] == '/' || text[i + 1] == '!')) return std::nullopt;
      const std::string_view tag = tagtext::startTag(text, i + 1);
      if (offset > i + 1 + tag.size()) return std::nullopt;
      return i + 1;
    }
  }
  return std::nullopt;
}

Cursor cursorAt(std::string_view text, std::size_t offset) {
  Cursor cursor;
  const bool reference = referenceAt(text, offset, cursor);
  const std::optional<std::size_t> tagAt = tagAround(text, offset);
  if (!tagAt) return cursor;
  const std::string_view tag = tagtext::startTag(text, *tagAt);
  cursor.tagAt = *tagAt;
  cursor.element = tagtext::tagName(tag);
  if (reference) return cursor;
  if (offset <= *tagAt + cursor.element.size()) {
    cursor.kind = Cursor::Kind::TagName;
    cursor.name = cursor.element;
    cursor.at = *tagAt;
    return cursor;
  }
  const std::size_t inTag = offset - *tagAt;
  tagtext::forEachAttribute(tag, [&](std::string_view name, std::size_t nameAt,
                                     std::string_view value, std::size_t valueAt) {
    if (inTag >= nameAt && inTag <= nameAt + name.size()) {
      cursor.kind = Cursor::Kind::AttributeName;
      cursor.name = name;
      cursor.at = *tagAt + nameAt;
    } else if (inTag >= valueAt && inTag <= valueAt + value.size()) {
      cursor.kind = Cursor::Kind::AttributeValue;
      cursor.name = name;
      cursor.value = value;
      cursor.at = *tagAt + valueAt;
    }
  });
  return cursor;
}

std::string_view kindText(MacroOrigin::Kind kind) {
  switch (kind) {
    case MacroOrigin::Kind::CommandLine:
      return "the macro list";
    case MacroOrigin::Kind::MacrosFile:
      return "a macros file";
    case MacroOrigin::Kind::DefineOption:
      return "a -D option";
    case MacroOrigin::Kind::Define:
      return "a define";
    case MacroOrigin::Kind::MacrosAttribute:
      return "a macros attribute";
    case MacroOrigin::Kind::Loop:
      return "a loop";
    case MacroOrigin::Kind::Condition:
      return "the condition that tested it (undefined before)";
  }
  return "";
}

// "FILE:LINE" of a place, the line from 1.
std::string placeText(const FeatureContext& context, const Place& place) {
  std::string text = std::filesystem::path(place.file).filename().string();
  if (!context.analysis) return text;
  const auto file = context.analysis->texts.find(place.file);
  if (file == context.analysis->texts.end()) return text;
  const TextPosition position = file->second.positionOf(place.offset);
  return text + ":" + std::to_string(position.line + 1);
}

const Use* useAt(const FeatureContext& context, std::size_t offset) {
  if (!context.analysis) return nullptr;
  const auto use = context.analysis->uses.find(Place{context.path, offset});
  return use == context.analysis->uses.end() ? nullptr : &use->second;
}

// Whether an element named `element` is the directive `id`.
bool is(std::string_view element, DirectiveId id) {
  return element == directiveName(id);
}

// Whether a loop directive defines `name` as a loop variable.
bool loopDefines(const Reached& loop, std::string_view name) {
  if (loop.directive == DirectiveId::Foreach) {
    return std::any_of(loop.attributes.begin(), loop.attributes.end(),
                       [&](const auto& attribute) { return attribute.first == name; });
  }
  for (const auto& [attribute, index] : loop.attributes) {
    if (attribute != attr::kIndex || index.empty() || !name.starts_with(index)) continue;
    const std::string_view suffix = name.substr(index.size());
    for (const std::string_view defined : directive(DirectiveId::For).loopSuffixes) {
      if (suffix == defined) return true;
    }
  }
  return false;
}

// The loop of the document, before `offset`, whose variable `name` is (the nearest one).
const Reached* loopOf(const FeatureContext& context, std::size_t offset, std::string_view name) {
  if (!context.analysis) return nullptr;
  const Reached* found = nullptr;
  for (const Reached& directive : context.analysis->directives) {
    if (directive.directive != DirectiveId::For && directive.directive != DirectiveId::Foreach) {
      continue;
    }
    if (directive.at.file != context.path || directive.at.offset > offset) continue;
    if (!loopDefines(directive, name)) continue;
    if (!found || directive.at.offset > found->at.offset) found = &directive;
  }
  return found;
}

std::string loopText(const FeatureContext& context, const Reached& loop) {
  std::string text = "loop variable of <" + std::string(directiveName(loop.directive)) + "> at " +
                     placeText(context, loop.at);
  for (const auto& [name, value] : loop.attributes)
    text += "\n- `" + name + "` = `" + value + "`";
  return text;
}

std::string useText(const FeatureContext& context, const Use& use) {
  std::string text = "**" + use.name + "**";
  for (const UsedValue& value : use.values) {
    if (!value.defined) {
      text += "\n- undefined here";
      continue;
    }
    text += "\n- `" + value.value + "` from " + std::string(kindText(value.kind));
    if (value.origin) text += " at " + placeText(context, *value.origin);
  }
  return text;
}

// The run a hover speaks of: the build's command it followed, or none.
std::string runText(const FeatureContext& context) {
  const Analysis* analysis = context.analysis;
  if (!analysis) return "";
  if (!analysis->fromCommand) return "\n\n---\nrun on its own: no build command reads this file";
  std::string text = "\n\n---\nrun by the build's command for `" +
                     context.workspace.shownPath(analysis->commandOutput) + "`";
  if (analysis->input != context.path) {
    text += " from `" + context.workspace.shownPath(analysis->input) + "`";
  }
  if (analysis->commandCount > 1) {
    text += " (" + std::to_string(analysis->commandNumber) + " of " +
            std::to_string(analysis->commandCount) + " commands for that input)";
  }
  return text;
}

json hoverReply(const FeatureContext& context, std::string markdown) {
  return {{"contents", {{"kind", "markdown"}, {"value", std::move(markdown) + runText(context)}}}};
}

}  // namespace

json positionJson(TextPosition position) {
  return {{"line", position.line}, {"character", position.character}};
}

json rangeJson(const TextLines& lines, std::size_t start, std::size_t end) {
  return {{"start", positionJson(positionOf(lines, start))},
          {"end", positionJson(positionOf(lines, end))}};
}

std::optional<TextPosition> positionOf(const json* value) {
  if (!value || !value->is_object()) return std::nullopt;
  const auto line = value->find("line");
  const auto character = value->find("character");
  if (line == value->end() || character == value->end() || !line->is_number_integer() ||
      !character->is_number_integer()) {
    return std::nullopt;
  }
  return TextPosition{line->get<std::int64_t>(), character->get<std::int64_t>()};
}

Expected<PositionRequest> readRequest(const json& params, bool withPosition) {
  auto missing = [](std::string what) {
    return Diagnostic::failure("invalid params: no " + std::move(what));
  };
  if (!params.is_object()) return missing("parameters object");
  const auto document = params.find("textDocument");
  if (document == params.end() || !document->is_object()) return missing("textDocument");
  const auto uri = document->find("uri");
  if (uri == document->end() || !uri->is_string()) return missing("textDocument.uri");
  PositionRequest request{uri->get<std::string>(), std::nullopt, false};
  if (withPosition) {
    const auto position = params.find("position");
    request.position = positionOf(position == params.end() ? nullptr : &*position);
    if (!request.position) return missing("position (a line and a character)");
  }
  const auto options = params.find("context");
  if (options != params.end() && options->is_object()) {
    const auto declarations = options->find("includeDeclaration");
    request.includeDeclaration =
        declarations != options->end() && declarations->is_boolean() && declarations->get<bool>();
  }
  return request;
}

std::optional<TextRange> rangeOf(const json* value) {
  if (!value || !value->is_object()) return std::nullopt;
  const auto start = value->find("start");
  const auto end = value->find("end");
  if (start == value->end() || end == value->end()) return std::nullopt;
  const std::optional<TextPosition> from = positionOf(&*start);
  const std::optional<TextPosition> to = positionOf(&*end);
  if (!from || !to) return std::nullopt;
  return TextRange{*from, *to};
}

json hover(const FeatureContext& context, const PositionRequest& request) {
  const std::string& text = context.document.text();
  const Cursor cursor = cursorAt(text, context.document.offsetOf(*request.position));
  const std::string_view element = cursor.element;
  const bool tested = (cursor.kind == Cursor::Kind::AttributeName &&
                       (is(element, DirectiveId::If) || is(element, DirectiveId::Ifnot))) ||
                      (cursor.kind == Cursor::Kind::AttributeValue && cursor.name == attr::kName &&
                       (is(element, DirectiveId::Ifdef) || is(element, DirectiveId::Ifndef) ||
                        is(element, DirectiveId::Switch)));
  if (cursor.kind == Cursor::Kind::Reference || tested) {
    const std::string name =
        tested && cursor.kind == Cursor::Kind::AttributeValue ? cursor.value : cursor.name;
    const Use* use = useAt(context, cursor.at);
    std::string decided;
    if (tested && context.analysis) {
      const auto decision = context.analysis->decisions.find(Place{context.path, cursor.tagAt});
      if (decision != context.analysis->decisions.end()) {
        decided = decision->second == 1   ? "\n\n<" + cursor.element + ">: taken"
                  : decision->second == 2 ? "\n\n<" + cursor.element + ">: not taken"
                                          : "\n\n<" + cursor.element + ">: taken at some visits";
      }
    }
    if (use && std::any_of(use->values.begin(), use->values.end(),
                           [](const UsedValue& value) { return value.defined; })) {
      return hoverReply(context, useText(context, *use) + decided);
    }
    if (const Reached* loop = loopOf(context, cursor.at, name)) {
      return hoverReply(context, "**" + name + "**: " + loopText(context, *loop));
    }
    if (use) return hoverReply(context, useText(context, *use) + decided);
    return hoverReply(context, "**" + name + "**: the run did not reach this element");
  }
  // A loop's own variable: the index of a for, an attribute of a foreach.
  const bool loopVariable =
      (is(element, DirectiveId::For) && cursor.kind == Cursor::Kind::AttributeValue &&
       cursor.name == attr::kIndex) ||
      (is(element, DirectiveId::Foreach) && cursor.kind == Cursor::Kind::AttributeName);
  if (loopVariable && context.analysis) {
    for (const Reached& loop : context.analysis->directives) {
      if (loop.at.file == context.path && loop.at.offset == cursor.tagAt) {
        const std::string name =
            cursor.kind == Cursor::Kind::AttributeValue ? cursor.value : cursor.name;
        return hoverReply(context, "**" + name + "**: " + loopText(context, loop));
      }
    }
  }
  return nullptr;
}

namespace {

// Where a reference's values were defined (a loop's variable: the loop).
json referenceDefinition(const FeatureContext& context, const Cursor& cursor) {
  json locations = json::array();
  std::set<Place> seen;
  if (const Use* use = useAt(context, cursor.at)) {
    for (const UsedValue& value : use->values) {
      if (value.origin && seen.insert(*value.origin).second) {
        locations.push_back(locationOf(context, *value.origin, lengthAt(context, *value.origin)));
      }
    }
  }
  if (locations.empty()) {
    if (const Reached* loop = loopOf(context, cursor.at, cursor.name)) {
      locations.push_back(locationOf(context, loop->at, directiveName(loop->directive).size()));
    }
  }
  return locations;
}

// The file an include opened; for one the run did not reach, its name as written beside the
// document (or in the first include folder that has it).
json includeDefinition(const FeatureContext& context, const Cursor& cursor) {
  const auto opened = context.analysis->includedPaths.find(Place{context.path, cursor.tagAt});
  if (opened != context.analysis->includedPaths.end()) {
    return json{{"uri", context.workspace.uriOf(opened->second)}, {"range", emptyRange()}};
  }
  const std::string& name = cursor.value;
  if (name.empty() || name.find('$') != std::string::npos) return nullptr;
  std::string path = name.starts_with('/')
                         ? name
                         : std::filesystem::path(context.path).parent_path().string() + "/" + name;
  std::error_code error;
  for (const std::string& dir : context.analysis->includeDirs) {
    if (name.starts_with('/') || std::filesystem::exists(path, error)) break;
    if (std::filesystem::exists(dir + "/" + name, error)) path = dir + "/" + name;
  }
  return json{{"uri", context.workspace.uriOf(normalPath(path))}, {"range", emptyRange()}};
}

// The fragment an xmlput put; for one the run did not reach, every xmldef of the name.
json putDefinition(const FeatureContext& context, const Cursor& cursor) {
  json locations = json::array();
  const auto put = context.analysis->fragments.find(Place{context.path, cursor.tagAt});
  if (put != context.analysis->fragments.end()) {
    const std::size_t length = directiveName(DirectiveId::Xmldef).size();
    locations.push_back(locationOf(context, put->second, length));
    return locations;
  }
  for (const Reached& fragment : context.analysis->directives) {
    if (fragment.directive != DirectiveId::Xmldef) continue;
    for (const auto& [name, value] : fragment.attributes) {
      if (name == attr::kName && value == cursor.value) {
        locations.push_back(
            locationOf(context, fragment.at, directiveName(fragment.directive).size()));
      }
    }
  }
  return locations;
}

}  // namespace

json definition(const FeatureContext& context, const PositionRequest& request) {
  if (!context.analysis) return nullptr;
  const Cursor cursor =
      cursorAt(context.document.text(), context.document.offsetOf(*request.position));
  if (cursor.kind == Cursor::Kind::Reference) return referenceDefinition(context, cursor);
  if (cursor.kind != Cursor::Kind::AttributeValue) return nullptr;
  if (is(cursor.element, DirectiveId::Include) && cursor.name == attr::kFilename) {
    return includeDefinition(context, cursor);
  }
  if (is(cursor.element, DirectiveId::Xmlput) && cursor.name == attr::kName) {
    return putDefinition(context, cursor);
  }
  return nullptr;
}

json references(const FeatureContext& context, const PositionRequest& request) {
  if (!context.analysis) return nullptr;
  const Cursor cursor =
      cursorAt(context.document.text(), context.document.offsetOf(*request.position));
  const bool declarations = request.includeDeclaration;
  json locations = json::array();
  // A fragment: its xmldef and every xmlput of it.
  if (cursor.kind == Cursor::Kind::AttributeValue && cursor.name == attr::kName &&
      (is(cursor.element, DirectiveId::Xmldef) || is(cursor.element, DirectiveId::Xmlput))) {
    std::set<Place> seen;
    for (const Reached& directive : context.analysis->directives) {
      const bool put = directive.directive == DirectiveId::Xmlput;
      if (!put && !(declarations && directive.directive == DirectiveId::Xmldef)) continue;
      for (const auto& [name, value] : directive.attributes) {
        if (name == attr::kName && value == cursor.value && seen.insert(directive.at).second) {
          locations.push_back(
              locationOf(context, directive.at, directiveName(directive.directive).size()));
        }
      }
    }
    return locations;
  }
  // A macro: every reference and test of it the run reached, and its defines.
  std::string macro;
  if (cursor.kind == Cursor::Kind::Reference) macro = cursor.name;
  if (cursor.kind == Cursor::Kind::AttributeValue && cursor.name == attr::kName &&
      is(cursor.element, DirectiveId::Define)) {
    macro = cursor.value;
  }
  if (macro.empty()) return nullptr;
  for (const auto& [place, use] : context.analysis->uses) {
    if (use.name == macro)
      locations.push_back(locationOf(context, place, lengthAt(context, place)));
  }
  if (declarations) {
    for (const Reached& directive : context.analysis->directives) {
      if (directive.directive != DirectiveId::Define) continue;
      for (const auto& [name, value] : directive.attributes) {
        if (name == attr::kName && value == macro) {
          locations.push_back(
              locationOf(context, directive.at, directiveName(directive.directive).size()));
        }
      }
    }
  }
  return locations;
}
