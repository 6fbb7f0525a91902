#include "Checks.h"

#include <cctype>

namespace {

constexpr bool inCheckOrder() {
  for (std::size_t i = 0; i < kCheckCount; ++i) {
    if (static_cast<std::size_t>(kChecks[i].check) != i) return false;
  }
  return true;
}
static_assert(inCheckOrder(), "kChecks lists the checks in the order of Check");

}  // namespace

std::string_view checkName(Check check) {
  return kChecks[static_cast<std::size_t>(check)].name;
}

std::optional<Check> checkNamed(std::string_view name) {
  for (const CheckInfo& info : kChecks) {
    if (info.name == name) return info.check;
  }
  return std::nullopt;
}

Failure Findings::report(Check check, std::string message, std::vector<SourceLocation> locations,
                         std::vector<FixIt> fixes) {
  if (!on(check)) return std::nullopt;
  Diagnostic finding =
      Diagnostic::found(checkName(check), std::move(message), std::move(locations));
  finding.fixes = std::move(fixes);
  if (settings_.asErrors) return finding;
  finding.severity = Severity::Warning;
  warnings_.push_back(std::move(finding));
  return std::nullopt;
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
