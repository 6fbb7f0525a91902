#include "Sarif.h"

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>

#include "Report.h"
#include "diagnostics/JsonText.h"
#include "xmlpp/Checks.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kBase = "WORKDIR";
// The rule of a failure of the run (a file that cannot be read, a directive that cannot be
// carried out): not a check, but every result names its rule. It comes after the checks.
constexpr std::string_view kFailureRule = "failure";

Json ruleDescriptor(const CheckInfo& info) {
  const std::string name(info.name);
  const std::string help(info.help);
  const std::string full = help + ". Enabled by --warn or --warn=" + name +
                           " (a warning) and by --strict (an error); --no-warn=" + name +
                           " disables it.";
  return Json{{"id", name},
              {"shortDescription", {{"text", help}}},
              {"fullDescription", {{"text", full}}},
              {"help",
               {{"text", full + " The Checks section of directives.md shows a wrong and "
                                "a right example."}}},
              {"defaultConfiguration", {{"level", "warning"}}}};
}

Json toolDriver() {
  Json rules = Json::array();
  for (const CheckInfo& info : kChecks)
    rules.push_back(ruleDescriptor(info));
  const std::string failure =
      "The run failed: a file that cannot be read or written, a directive that cannot be carried "
      "out, a usage error. Not a check: it cannot be disabled.";
  rules.push_back({{"id", kFailureRule},
                   {"shortDescription", {{"text", "the run failed"}}},
                   {"fullDescription", {{"text", failure}}},
                   {"help", {{"text", failure}}},
                   {"defaultConfiguration", {{"level", "error"}}}});
  return Json{{"name", "xmlpp"}, {"version", XMLPP_VERSION}, {"rules", std::move(rules)}};
}

Json physicalLocation(const SourceLocation& at) {
  Json artifact{{"uri", fileUri(at.file)}};
  if (!at.file.starts_with('/')) artifact["uriBaseId"] = kBase;
  Json region{{"startLine", at.line + 1}};
  if (at.column > 0) region["startColumn"] = at.column;
  return Json{{"artifactLocation", std::move(artifact)}, {"region", std::move(region)}};
}

const char* levelOf(Severity severity) {
  switch (severity) {
    case Severity::Warning:
      return "warning";
    case Severity::Note:
      return "note";
    case Severity::Error:
      break;
  }
  return "error";
}

// The replacements of a diagnostic's fixes make one fix: a change for each file, in the order
// met, the columns in code points as the log's.
Json fixesOf(const Diagnostic& diagnostic) {
  Json changes = Json::array();
  for (const FixIt& fix : diagnostic.fixes) {
    const Json replacement{
        {"deletedRegion",
         {{"startLine", fix.line + 1}, {"startColumn", fix.column}, {"endColumn", fix.endColumn}}},
        {"insertedContent", {{"text", jsonText(fix.text)}}}};
    Json artifact = physicalLocation(SourceLocation{{}, fix.file, fix.line, 0})["artifactLocation"];
    auto same = std::find_if(changes.begin(), changes.end(), [&](const Json& change) {
      return change["artifactLocation"] == artifact;
    });
    if (same == changes.end()) {
      changes.push_back(
          {{"artifactLocation", std::move(artifact)}, {"replacements", Json::array()}});
      same = changes.end() - 1;
    }
    (*same)["replacements"].push_back(replacement);
  }
  return Json::array(
      {{{"description", {{"text", jsonText("write " + diagnostic.fixes.front().text)}}},
        {"artifactChanges", std::move(changes)}}});
}

Json result(const Diagnostic& diagnostic) {
  Json entry;
  // The rule's place in tool.driver.rules: its check's in kChecks, or the failure rule's.
  std::size_t index = 0;
  while (index < kCheckCount && kChecks[index].name != diagnostic.check)
    ++index;
  entry["ruleId"] = index < kCheckCount ? kChecks[index].name : kFailureRule;
  entry["ruleIndex"] = index;
  entry["level"] = levelOf(diagnostic.severity);
  entry["message"] = {{"text", jsonText(messageText(diagnostic))}};
  if (diagnostic.locations.empty()) return entry;
  entry["locations"] =
      Json::array({{{"physicalLocation", physicalLocation(diagnostic.locations[0])}}});
  Json related = Json::array();
  const std::size_t shown = shownPlaces(diagnostic.locations.size());
  for (std::size_t i = 1; i < shown; ++i) {
    const SourceLocation& at = diagnostic.locations[i];
    related.push_back({{"id", static_cast<int>(i)},
                       {"physicalLocation", physicalLocation(at)},
                       {"message", {{"text", std::string(roleText(at.role)) + " here"}}}});
  }
  if (diagnostic.locations.size() > shown) {
    related.push_back({{"id", static_cast<int>(shown)},
                       {"physicalLocation", physicalLocation(diagnostic.locations[shown - 1])},
                       {"message",
                        {{"text", std::to_string(diagnostic.locations.size() - shown) +
                                      " more places not shown"}}}});
  }
  if (!related.empty()) entry["relatedLocations"] = std::move(related);
  if (!diagnostic.fixes.empty()) entry["fixes"] = fixesOf(diagnostic);
  return entry;
}

// The working directory as a file URI ending in "/", or nothing when it cannot be had.
std::optional<std::string> workingDirectoryUri() {
  std::string buffer(4096, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(buffer.find('\0'));
  std::string uri = fileUri(buffer);
  if (!uri.ends_with('/')) uri += '/';
  return uri;
}

}  // namespace

std::string fileUri(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = path.starts_with('/') ? "file://" : "";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                       c == '~' || c == '/';
    if (plain) {
      uri += c;
    } else {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0xF];
    }
  }
  return uri;
}

std::string sarifLog(const std::vector<Diagnostic>& diagnostics, int exitStatus) {
  Json run{{"tool", {{"driver", toolDriver()}}}};
  if (const std::optional<std::string> base = workingDirectoryUri())
    run["originalUriBaseIds"] = {{kBase, {{"uri", *base}}}};
  run["columnKind"] = "unicodeCodePoints";
  run["invocations"] =
      Json::array({{{"executionSuccessful", exitStatus == 0}, {"exitCode", exitStatus}}});
  run["results"] = Json::array();
  const Json log{{"$schema", "https://json.schemastore.org/sarif-2.1.0.json"},
                 {"version", "2.1.0"},
                 {"runs", Json::array({std::move(run)})}};
  std::string text = log.dump(2) + "\n";
  if (diagnostics.empty()) return text;
  // The results go in one at a time, as the whole log dumped would hold them (at depth 4, two
  // spaces a level): a run with many findings never holds them all as JSON values.
  constexpr std::string_view kEmpty = "\"results\": []";
  const std::size_t at = text.rfind(kEmpty) + kEmpty.size() - 1;
  std::string results = "\n";
  for (std::size_t i = 0; i < diagnostics.size(); ++i) {
    if (i > 0) results += ",\n";
    const std::string one = result(diagnostics[i]).dump(2);
    results += "        ";
    for (const char c : one) {
      results += c;
      if (c == '\n') results += "        ";
    }
  }
  results += "\n      ";
  text.insert(at, results);
  return text;
}
