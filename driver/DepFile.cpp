#include "driver/DepFile.h"

#include "files/ByteSink.h"
#include "files/FilePath.h"
#include "files/InputFile.h"

namespace {

// Characters that end or cut a name in GNU Make unless a backslash precedes them.
bool quotedByBackslash(char c) {
  return c == ' ' || c == '\t' || c == '#' || c == ':';
}

}  // namespace

std::string escapeDepFileName(std::string_view name) {
  std::string text;
  text.reserve(name.size() + 8);
  std::size_t i = 0;
  while (i < name.size()) {
    if (name[i] == '\\') {
      std::size_t end = name.find_first_not_of('\\', i);
      if (end == std::string_view::npos) end = name.size();
      std::size_t count = end - i;
      // Before such a character or at the end, Make reads 2N backslashes as N.
      bool doubled = end == name.size() || quotedByBackslash(name[end]);
      text.append(doubled ? 2 * count : count, '\\');
      i = end;
      continue;
    }
    char c = name[i++];
    if (quotedByBackslash(c)) {
      text.push_back('\\');
    } else if (c == '$') {
      text.push_back('$');
    }
    text.push_back(c);
  }
  return text;
}

std::optional<std::string> depFileRule(std::string_view target,
                                       const std::vector<std::string>& dependencies) {
  auto hasLineBreak = [](std::string_view name) {
    return name.find_first_of("\n\r") != std::string_view::npos;
  };
  if (hasLineBreak(target)) return std::nullopt;
  std::string rule = escapeDepFileName(target);
  rule.push_back(':');
  std::string emptyRules;
  std::string targetPath = normalizePath(target);
  for (std::size_t i = 0; i < dependencies.size(); ++i) {
    const std::string& name = dependencies[i];
    if (name == "-" || normalizePath(name) == targetPath) continue;
    if (hasLineBreak(name)) return std::nullopt;
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

Failure DepFile::open(std::string_view target, const std::vector<std::string>& dependencies) {
  if (path_.empty()) return std::nullopt;
  auto refused = [&](std::string_view why) {
    return Diagnostic::failure("couldn't write " + path_ + std::string(why));
  };
  if (target == "-") return refused(": the output is standard output");
  std::optional<std::string> rule = depFileRule(target, dependencies);
  if (!rule) return refused(": a file name holds a line break");
  rule_ = std::move(*rule);
  if (wouldOverwrite(std::string(target), dependencies)) return refused("");
  return file_.open(path_);
}

Failure DepFile::commit() {
  if (path_.empty()) return std::nullopt;
  ByteSink sink(file_.fd());
  sink.append(rule_);
  if (!sink.flush()) return file_.writeFailure(sink.systemError());
  return file_.commit();
}

bool DepFile::wouldOverwrite(const std::string& target,
                             const std::vector<std::string>& dependencies) const {
  std::optional<FileIdentity> self = outputIdentity(path_);
  if (!self) return false;  // a path that leads nowhere fails when it is opened
  if (self == outputIdentity(target)) return true;
  for (const std::string& name : dependencies) {
    if (self == inputIdentity(name)) return true;
  }
  return false;
}
