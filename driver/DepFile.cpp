#include "driver/DepFile.h"

#include "files/ByteSink.h"
#include "files/FilePath.h"
#include "files/InputFile.h"

namespace {

// Bytes that neither tool reads back inside a name, however they are written.
bool refusedByte(unsigned char c) {
  return c < 0x20 || c == 0x7F ||
         std::string_view("\"%&'()*;<=>?[^`|").find(c) != std::string_view::npos;
}

std::string quoted(char c) {
  return std::string("\"") + c + "\"";
}

std::string describeByte(unsigned char c) {
  if (c == '\t') return "a tab";
  if (c < 0x20 || c == 0x7F) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string("the byte 0x") + kDigits[c >> 4] + kDigits[c & 0xF];
  }
  return quoted(static_cast<char>(c));
}

// The name as Make reads it, without the leading "./" (and the slashes after it) that Make drops.
std::string_view withoutLeadingDot(std::string_view name) {
  while (name.starts_with("./")) {
    const std::size_t rest = name.find_first_not_of('/', 2);
    if (rest == std::string_view::npos) break;
    name.remove_prefix(rest);
  }
  return name;
}

// Make's special targets (.PHONY, .SUFFIXES, .SECONDEXPANSION, ...) and any it may add: a dot and
// capital letters or underscores only.
bool looksLikeSpecialTarget(std::string_view name) {
  return name.size() > 1 && name[0] == '.' &&
         name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_", 1) == std::string_view::npos;
}

}  // namespace

std::optional<std::string> unlistableName(std::string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (refusedByte(c)) return "holds " + describeByte(c);
    if (c != '\\') continue;
    if (i + 1 == name.size()) return "ends in " + quoted('\\');
    const char next = name[i + 1];
    if (next == '#' || next == ':' || next == '$') {
      return "holds " + quoted('\\') + " before " + quoted(next);
    }
  }
  if (name.ends_with(':')) return "ends in " + quoted(':');
  if (name.ends_with(' ')) return "ends in a blank";
  const std::string_view word = withoutLeadingDot(name);
  if (word.starts_with('~')) return "begins with " + quoted('~');
  if (word.starts_with("-l")) return "begins with \"-l\"";
  if (looksLikeSpecialTarget(word)) return "begins with \".\" and capital letters only";
  return std::nullopt;
}

std::string escapeDepFileName(std::string_view name) {
  std::string text;
  text.reserve(name.size() + 8);
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == ' ') {
      // The backslashes just written stand before a blank: 2N+1 of them read back as N.
      std::size_t run = 0;
      while (run < i && name[i - 1 - run] == '\\')
        ++run;
      text.append(run + 1, '\\');
    } else if (c == '#' || c == ':') {
      text.push_back('\\');
    } else if (c == '$') {
      text.push_back('$');
    }
    text.push_back(c);
  }
  return text;
}

Expected<std::string> depFileRule(std::string_view target,
                                  const std::vector<std::string>& dependencies,
                                  std::string_view targetOption) {
  auto unlistable = [](std::string_view name, std::string_view option) -> Failure {
    const std::string label = option.empty() ? "" : std::string(option) + "'s target ";
    if (name.find_first_of("\n\r") != std::string_view::npos) {
      return Diagnostic::failure((label.empty() ? "a file name " : label) + "holds a line break");
    }
    if (std::optional<std::string> why = unlistableName(name)) {
      return Diagnostic::failure(label + std::string(name) + " " + *why +
                                 ", which GNU Make or Ninja would misread");
    }
    return std::nullopt;
  };
  if (Failure failure = unlistable(target, targetOption)) return std::move(*failure);
  std::string rule = escapeDepFileName(target);
  rule.push_back(':');
  std::string emptyRules;
  std::string targetPath = normalizePath(target);
  for (std::size_t i = 0; i < dependencies.size(); ++i) {
    const std::string& name = dependencies[i];
    if (name == "-" || normalizePath(name) == targetPath) continue;
    if (Failure failure = unlistable(name, {})) return std::move(*failure);
    const std::string escaped = escapeDepFileName(name);
    rule.push_back(' ');
    rule.append(escaped);
    // Every file but the input also gets a rule of its own with nothing to do, so that a build
    // tool that no longer finds it (an include deleted together with its file) goes on.
    if (i > 0) emptyRules.append(escaped).append(":\n");
  }
  rule.push_back('\n');
  return rule + emptyRules;
}

std::string dependencyFileName(std::string_view output) {
  const std::size_t base = output.rfind('/') + 1;  // npos + 1 is 0: no folder
  const std::size_t dot = output.rfind('.');
  if (dot != std::string_view::npos && dot > base) output = output.substr(0, dot);
  return std::string(output) + ".d";
}

Expected<std::string> depFileText(const std::string& path, std::string_view output,
                                  const std::vector<std::string>& dependencies,
                                  std::string_view ruleTarget) {
  auto refused = [&](std::string_view why) {
    return Diagnostic::failure("couldn't write " + path + std::string(why));
  };
  const std::string_view target = ruleTarget.empty() ? output : ruleTarget;
  if (target == "-") {
    return refused(ruleTarget.empty() ? ": the output is standard output"
                                      : ": -MT's target - is standard output");
  }
  Expected<std::string> rule = depFileRule(target, dependencies, ruleTarget.empty() ? "" : "-MT");
  if (!rule) return refused(": " + rule.error().message);
  return rule;
}
