#include "xmlpp/Checks.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "driver/CheckOptions.h"

namespace {

TEST(CheckNames, EveryCheckIsFoundByItsName) {
  for (const CheckInfo& info : kChecks) {
    ASSERT_TRUE(checkNamed(info.name).has_value()) << info.name;
    EXPECT_EQ(*checkNamed(info.name), info.check);
    EXPECT_EQ(checkName(info.check), info.name);
  }
  EXPECT_FALSE(checkNamed("Unresolved-Macro").has_value());
  EXPECT_FALSE(checkNamed("").has_value());
}

TEST(NearNames, CaseAndOneEdit) {
  EXPECT_TRUE(equalButForCase("Define", "define"));
  EXPECT_FALSE(equalButForCase("define", "defin"));
  EXPECT_TRUE(oneEditApart("inclde", "include"));  // deletion
  EXPECT_TRUE(oneEditApart("ifdeff", "ifdef"));    // insertion
  EXPECT_TRUE(oneEditApart("BAORD", "BOARD"));     // neighbours swapped
  EXPECT_TRUE(oneEditApart("xmlpat", "xmlput"));   // substitution
  EXPECT_FALSE(oneEditApart("define", "define"));  // the same name
  EXPECT_FALSE(oneEditApart("ABCD", "BADC"));      // two swaps
  EXPECT_FALSE(oneEditApart("include", "inclu"));  // two deletions
}

TEST(NearNames, NearestPrefersCaseAndSkipsShortNames) {
  const std::vector<std::string_view> names{"BOARD", "board2", "N"};
  EXPECT_EQ(nearestName("board", names), "BOARD");
  EXPECT_EQ(nearestName("BAORD", names), "BOARD");
  EXPECT_EQ(nearestName("M", names), "");  // short names: case only
  EXPECT_EQ(nearestName("n", names), "N");
  EXPECT_EQ(nearestName("VARIANT", names), "");
}

TEST(Findings, WarningsAreKeptErrorsReturned) {
  std::vector<Diagnostic> warnings;
  CheckSettings settings;
  settings.enabled.set(static_cast<std::size_t>(Check::NoSwitchBranch));
  Findings findings(settings, warnings);
  EXPECT_FALSE(findings.report(Check::UnreadAttribute, "off", {}).has_value());
  EXPECT_FALSE(findings.report(Check::NoSwitchBranch, "on", {}).has_value());
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].severity, Severity::Warning);
  EXPECT_EQ(warnings[0].check, "no-switch-branch");
  const CheckSettings strict = CheckSettings::strict();
  Findings failing(strict, warnings);
  const Failure error = failing.report(Check::UnreadAttribute, "m", {});
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->severity, Severity::Error);
  EXPECT_EQ(warnings.size(), 1u);
}

CheckSettings settingsOf(const std::vector<std::string_view>& args, bool strict) {
  CheckOptions options;
  for (const std::string_view arg : args) {
    Expected<bool> read = options.read(arg);
    EXPECT_TRUE(read && *read) << arg;
  }
  return options.settings(strict);
}

TEST(CheckOptions, ReadLeftToRight) {
  EXPECT_FALSE(settingsOf({}, false).any());
  EXPECT_TRUE(settingsOf({"--warn"}, false).enabled.all());
  const CheckSettings some = settingsOf({"--warn=no-element,unread-attribute"}, false);
  EXPECT_EQ(some.enabled.count(), 2u);
  EXPECT_TRUE(some.on(Check::NoElement));
  EXPECT_FALSE(some.asErrors);
  const CheckSettings less = settingsOf({"--warn", "--no-warn=no-element"}, false);
  EXPECT_FALSE(less.on(Check::NoElement));
  EXPECT_EQ(less.enabled.count(), kCheckCount - 1);
  EXPECT_TRUE(settingsOf({"--no-warn=no-element", "--warn"}, false).on(Check::NoElement));
  const CheckSettings strict = settingsOf({"--no-warn=unread-attribute"}, true);
  EXPECT_TRUE(strict.asErrors);
  EXPECT_FALSE(strict.on(Check::UnreadAttribute));
  EXPECT_TRUE(strict.on(Check::UnresolvedMacro));
}

TEST(CheckOptions, OtherOptionsAndBadNames) {
  CheckOptions options;
  EXPECT_FALSE(*options.read("--strict"));
  EXPECT_FALSE(*options.read("--warning"));
  EXPECT_FALSE(options.read("--warn=nope"));
  EXPECT_FALSE(options.read("--no-warn="));
  EXPECT_FALSE(options.read("--diagnostics=json"));
  EXPECT_TRUE(*options.read("--diagnostics=gnu"));
  EXPECT_EQ(options.format, DiagnosticFormat::Gnu);
}

}  // namespace
