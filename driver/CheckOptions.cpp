#include "CheckOptions.h"

#include <algorithm>

namespace {

struct OptionHelp {
  std::string_view name;
  std::string_view summary;
};
constexpr OptionHelp kCheckOptions[] = {
    {"--warn", "enable every check; print what they find as warnings"},
    {"--warn=NAME,...", "enable these checks (see Checks below)"},
    {"--no-warn=NAME,...", "disable these checks (the options apply left to right)"},
    {"--diagnostics=gnu", "print FILE:LINE:COL: error|warning: MESSAGE [NAME] lines"},
};

Diagnostic usage(std::string message) {
  return Diagnostic::failure("xmlpp: " + std::move(message) + " (see xmlpp --help)");
}

}  // namespace

Expected<bool> CheckOptions::read(std::string_view arg) {
  if (arg == "--warn") {
    edits.push_back({true, true, {}});
    return true;
  }
  if (arg.starts_with("--diagnostics=")) {
    const std::string_view value = arg.substr(arg.find('=') + 1);
    if (value == "text") {
      format = DiagnosticFormat::Text;
    } else if (value == "gnu") {
      format = DiagnosticFormat::Gnu;
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
    const std::optional<Check> check = checkNamed(name);
    if (!check) return usage("unknown check \"" + std::string(name) + "\" in " + std::string(arg));
    edits.push_back({enable, false, *check});
    start = end + 1;
  }
  return true;
}

CheckSettings CheckOptions::settings(bool strict) const {
  CheckSettings settings = strict ? CheckSettings::strict() : CheckSettings{};
  for (const Edit& edit : edits) {
    if (edit.all) {
      if (edit.enable) settings.enabled.set();
    } else {
      settings.enabled.set(static_cast<std::size_t>(edit.check), edit.enable);
    }
  }
  return settings;
}

std::string checkOptionsHelp() {
  std::size_t width = 0;
  for (const OptionHelp& option : kCheckOptions)
    width = std::max(width, option.name.size());
  std::string text = "\nCheck options:\n";
  for (const OptionHelp& option : kCheckOptions) {
    text.append("  ").append(option.name).append(width - option.name.size() + 2, ' ');
    text.append(option.summary).push_back('\n');
  }
  return text;
}

std::string checksHelp() {
  std::size_t width = 0;
  for (const CheckInfo& info : kChecks)
    width = std::max(width, info.name.size());
  std::string text = "\nChecks (--warn, --strict; docs/directives.md has examples):\n";
  for (const CheckInfo& info : kChecks) {
    text.append("  ").append(info.name).append(width - info.name.size() + 2, ' ');
    text.append(info.help).push_back('\n');
  }
  return text;
}
