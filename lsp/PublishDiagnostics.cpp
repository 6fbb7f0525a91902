// The run's diagnostics in the protocol's form: each in the file where it happened, its range on
// the element's name (or on the macro reference it names), the include and xmlput elements that
// led there as related information.

#include <algorithm>
#include <optional>
#include <utility>

#include "Features.h"
#include "xml/TagText.h"

namespace {

using json = nlohmann::json;

// The bytes a location stands for in its file's text: a reference the message quotes inside the
// element's tag, else the value of an attribute it names, else the element's name after the "<"
// at its column; the whole line when the column is not known.
std::pair<std::size_t, std::size_t> spanOf(const FileText& file, const SourceLocation& location,
                                           std::string_view message) {
  const std::string& text = file.text();
  const std::size_t lineStart = file.offsetOf({location.line, 0});
  const std::size_t lineEnd =
      file.lines().lineEnd(static_cast<std::size_t>(file.lines().lineOf(lineStart)));
  if (location.column <= 0) return {lineStart, lineEnd};
  const std::size_t at = lineStart + static_cast<std::size_t>(location.column) - 1;
  if (at >= text.size() || text[at] != '<') return {std::min(at, lineEnd), lineEnd};
  const std::string_view tag = tagtext::startTag(text, at + 1);
  // A reference the message quotes, where the tag holds it.
  const std::size_t quoted = message.find("$(");
  if (quoted != std::string_view::npos) {
    const std::size_t close = message.find(')', quoted);
    if (close != std::string_view::npos) {
      const std::size_t inTag = tag.find(message.substr(quoted, close - quoted + 1));
      if (inTag != std::string_view::npos) {
        return {at + 1 + inTag, at + 1 + inTag + close - quoted + 1};
      }
    }
  }
  // An attribute the message names ("attribute NAME"), where the tag has it: its value.
  for (std::size_t named = message.find("attribute "); named != std::string_view::npos;
       named = message.find("attribute ", named + 1)) {
    std::size_t end = named + 10;
    while (end < message.size() && tagtext::isNameByte(message[end]))
      ++end;
    const std::string_view name = message.substr(named + 10, end - named - 10);
    std::optional<std::pair<std::size_t, std::size_t>> span;
    tagtext::forEachAttribute(tag, [&](std::string_view attribute, std::size_t nameAt,
                                       std::string_view value, std::size_t valueAt) {
      if (span || attribute != name) return;
      span = value.empty() ? std::pair(at + 1 + nameAt, at + 1 + nameAt + attribute.size())
                           : std::pair(at + 1 + valueAt, at + 1 + valueAt + value.size());
    });
    if (span) return *span;
  }
  return {at + 1, at + 1 + tagtext::tagName(tag).size()};
}

json rangeAt(const Analysis& analysis, const SourceLocation& location, std::string_view message) {
  const auto file = analysis.texts.find(normalPath(location.file));
  if (file == analysis.texts.end()) {
    const TextPosition start{location.line, 0};
    return {{"start", positionJson(start)}, {"end", positionJson(start)}};
  }
  const auto [start, end] = spanOf(file->second, location, message);
  return rangeJson(file->second.lines(), start, end);
}

int severityOf(Severity severity) {
  switch (severity) {
    case Severity::Error:
      return 1;
    case Severity::Warning:
      return 2;
    case Severity::Note:
      return 3;
  }
  return 1;
}

}  // namespace

json codeActions(const FeatureContext& context, const PositionRequest&) {
  json actions = json::array();
  if (!context.analysis) return actions;
  const Analysis& analysis = *context.analysis;
  for (const Diagnostic& diagnostic : analysis.diagnostics) {
    if (diagnostic.fixes.empty() || diagnostic.locations.empty() ||
        normalPath(diagnostic.locations.front().file) != context.path) {
      continue;
    }
    json changes = json::object();
    for (const FixIt& fix : diagnostic.fixes) {
      const std::string path = normalPath(fix.file);
      const auto file = analysis.texts.find(path);
      if (file == analysis.texts.end()) continue;
      const TextLines& lines = file->second.lines();
      const std::size_t start = lines.lineStart(static_cast<std::size_t>(fix.line));
      changes[context.workspace.uriOf(path)].push_back(
          {{"range", rangeJson(lines, start + static_cast<std::size_t>(fix.column - 1),
                               start + static_cast<std::size_t>(fix.endColumn - 1))},
           {"newText", fix.text}});
    }
    if (changes.empty()) continue;
    actions.push_back({{"title", "Write " + diagnostic.fixes.front().text},
                       {"kind", "quickfix"},
                       {"isPreferred", diagnostic.fixes.front().certain},
                       {"edit", {{"changes", std::move(changes)}}}});
  }
  return actions;
}

std::map<std::string, json> diagnosticsByUri(const Workspace& workspace, const Analysis& analysis) {
  std::map<std::string, json> byUri;
  for (const Diagnostic& diagnostic : analysis.diagnostics) {
    // A diagnostic without a place (an input that cannot be read) is shown at the input's start.
    const SourceLocation at = diagnostic.locations.empty()
                                  ? SourceLocation{SourceLocation::Role::At, analysis.input, 0, 0}
                                  : diagnostic.locations.front();
    json entry = {{"range", rangeAt(analysis, at, diagnostic.message)},
                  {"severity", severityOf(diagnostic.severity)},
                  {"source", "xmlpp"},
                  {"message", messageText(diagnostic)}};
    if (!diagnostic.check.empty()) entry["code"] = std::string(diagnostic.check);
    json related = json::array();
    const std::size_t shown = shownPlaces(diagnostic.locations.size());
    for (std::size_t i = 1; i < shown; ++i) {
      const SourceLocation& via = diagnostic.locations[i];
      const std::string how = via.role == SourceLocation::Role::At
                                  ? std::string("here")
                                  : std::string(roleText(via.role)) + " here";
      related.push_back({{"location",
                          {{"uri", workspace.uriOf(normalPath(via.file))},
                           {"range", rangeAt(analysis, via, {})}}},
                         {"message", how}});
    }
    if (diagnostic.locations.size() > shown) {
      related.push_back(
          {{"location",
            {{"uri", workspace.uriOf(normalPath(at.file))}, {"range", rangeAt(analysis, at, {})}}},
           {"message",
            std::to_string(diagnostic.locations.size() - shown) + " more places not shown"}});
    }
    if (!related.empty()) entry["relatedInformation"] = std::move(related);
    json& list = byUri[workspace.uriOf(normalPath(at.file))];
    if (list.is_null()) list = json::array();
    list.push_back(std::move(entry));
  }
  return byUri;
}
