#include "xmlpp/CheckOptions.h"

#include <algorithm>

namespace {

struct OptionHelp {
  std::string_view name;
  std::string_view summary;
};
constexpr OptionHelp kCheckOptions[] = {
    {"--warn, -Wall", "enable every check; print what they find as warnings"},
    {"--warn=NAME,...", "enable these checks too (see Checks below), -WNAME one"},
    {"--no-warn=NAME,...", "disable these checks, -Wno-NAME one (left to right)"},
    {"-w", "print no warning at all"},
    {"-Werror", "make every enabled check's finding an error"},
    {"--diagnostics=gnu", "print FILE:LINE:COL: error|warning: MESSAGE [NAME] lines"},
    {"--diagnostics=sarif[:FILE]", "one SARIF 2.1.0 log: alone on stderr, or in FILE"},
};

Diagnostic usage(std::string message) {
  return Diagnostic::failure("xmlpp: " + std::move(message) + " (see xmlpp --help)");
}

// The check named `name`, or a usage error for `arg` that names the closest check.
Expected<Check> namedCheck(std::string_view name, std::string_view arg) {
  if (const std::optional<Check> check = checkNamed(name)) return *check;
  std::vector<std::string_view> names;
  for (const CheckInfo& info : kChecks)
    names.push_back(info.name);
  const std::string_view near = closestName(name, names);
  return usage("unknown check \"" + std::string(name) + "\" in " + std::string(arg) +
               (near.empty() ? "" : "; did you mean " + std::string(near) + "?"));
}

}  // namespace

std::vector<std::string_view> CheckOptions::names() {
  return {"--warn", "--warn=", "--no-warn=", "--diagnostics=", "-w", "-Wall", "-Werror"};
}

Expected<bool> CheckOptions::read(std::string_view arg) {
  if (arg == "--warn" || arg == "-Wall") {
    edits.push_back({true, true, {}});
    return true;
  }
  if (arg == "-w") {
    silent = true;
    return true;
  }
  if (arg == "-Werror") {
    warningsAsErrors = true;
    return true;
  }
  if (arg.starts_with("-W")) {
    const bool enable = !arg.starts_with("-Wno-");
    Expected<Check> check = namedCheck(arg.substr(enable ? 2 : 5), arg);
    if (!check) return std::move(check.error());
    edits.push_back({enable, false, *check});
    return true;
  }
  if (arg.starts_with("--diagnostics=")) {
    const std::string_view value = arg.substr(arg.find('=') + 1);
    sarifFile = {};  // the last --diagnostics chooses both the form and the log's file
    if (value == "text") {
      format = DiagnosticFormat::Text;
    } else if (value == "gnu") {
      format = DiagnosticFormat::Gnu;
    } else if (value == "sarif:") {
      return usage(
          "--diagnostics=sarif: names no file; --diagnostics=sarif alone writes the log on "
          "standard error");
    } else if (value == "sarif" || value.starts_with("sarif:")) {
      format = DiagnosticFormat::Sarif;
      sarifFile = value.substr(std::min<std::size_t>(value.size(), 6));
    } else {
      return usage("unknown diagnostics format " + std::string(value));
    }
    return true;
  }
  const bool enable = arg.starts_with("--warn=");
  if (!enable && !arg.starts_with("--no-warn=")) return false;
  const std::string_view list = arg.substr(arg.find('=') + 1);
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = std::min(list.find(',', start), list.size());
    const std::string_view name = list.substr(start, end - start);
    Expected<Check> check = namedCheck(name, arg);
    if (!check) return std::move(check.error());
    edits.push_back({enable, false, *check});
    start = end + 1;
  }
  return true;
}

CheckSettings CheckOptions::settings(bool strict) const {
  CheckSettings settings = strict ? CheckSettings::strict() : CheckSettings::byDefault();
  for (const Edit& edit : edits) {
    if (edit.all) {
      if (edit.enable) settings.enabled.set();
    } else {
      settings.enabled.set(static_cast<std::size_t>(edit.check), edit.enable);
    }
  }
  if (silent) settings.enabled.reset();
  if (warningsAsErrors) settings.asErrors = true;
  return settings;
}

std::string alignedHelp(const std::vector<std::pair<std::string, std::string_view>>& rows,
                        std::size_t longest) {
  std::size_t width = 0;
  for (const auto& [name, summary] : rows) {
    if (name.size() <= longest) width = std::max(width, name.size());
  }
  std::string text;
  for (const auto& [name, summary] : rows) {
    text.append("  ").append(name);
    if (name.size() > width) {
      text.push_back('\n');
      text.append(width + 4, ' ');
    } else {
      text.append(width - name.size() + 2, ' ');
    }
    text.append(summary).push_back('\n');
  }
  return text;
}

std::string checkOptionsHelp() {
  std::vector<std::pair<std::string, std::string_view>> rows;
  for (const OptionHelp& option : kCheckOptions)
    rows.emplace_back(option.name, option.summary);
  // The SARIF option's name is longer than the others: it gets a line of its own.
  return "\nCheck options:\n" + alignedHelp(rows, 20);
}

std::string checksHelp() {
  std::vector<std::pair<std::string, std::string_view>> rows;
  for (const CheckInfo& info : kChecks)
    rows.emplace_back((info.byDefault ? "* " : "  ") + std::string(info.name), info.help);
  return "\nChecks (on by default: *; docs/directives.md has examples):\n" + alignedHelp(rows);
}
