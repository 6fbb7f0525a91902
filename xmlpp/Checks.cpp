#include "Checks.h"

#include <cctype>

std::string_view checkName(Check check) {
  return kChecks[static_cast<std::size_t>(check)].name;
}

std::optional<Check> checkNamed(std::string_view name) {
  for (const CheckInfo& info : kChecks) {
    if (info.name == name) return info.check;
  }
  return std::nullopt;
}

Failure Findings::report(Check check, std::string message, std::vector<SourceLocation> locations) {
  if (!on(check)) return std::nullopt;
  Diagnostic finding =
      Diagnostic::found(checkName(check), std::move(message), std::move(locations));
  if (settings_.asErrors) return finding;
  finding.severity = Severity::Warning;
  warnings_.push_back(std::move(finding));
  return std::nullopt;
}

bool equalButForCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool oneEditApart(std::string_view a, std::string_view b) {
  if (a.size() > b.size()) std::swap(a, b);
  if (b.size() - a.size() > 1) return false;
  std::size_t i = 0;
  while (i < a.size() && a[i] == b[i])
    ++i;
  if (a.size() == b.size()) {
    if (i == a.size()) return false;  // the same name
    // One substitution, or neighbours swapped.
    if (a.substr(i + 1) == b.substr(i + 1)) return true;
    return i + 1 < a.size() && a[i] == b[i + 1] && a[i + 1] == b[i] &&
           a.substr(i + 2) == b.substr(i + 2);
  }
  return a.substr(i) == b.substr(i + 1);  // one letter more in b
}

std::string_view nearestName(std::string_view name, const NearNames& names) {
  const std::string_view same = names.sameButCase(name);
  if (!same.empty() || name.size() < 4) return same;
  std::string_view nearest;
  names.forEachCandidate(name, [&](std::string_view candidate) {
    if (candidate.size() >= 4 && (nearest.empty() || candidate < nearest) &&
        oneEditApart(candidate, name)) {
      nearest = candidate;
    }
  });
  return nearest;
}
