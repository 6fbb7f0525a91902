#include "xmlpp/Checks.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

#include "macros/MacroTable.h"
#include "xmlpp/CheckOptions.h"

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
  NearNames index;
  for (const std::string_view name : {"BOARD", "board2", "N"})
    index.add(name);
  EXPECT_EQ(nearestName("board", index), "BOARD");
  EXPECT_EQ(nearestName("BAORD", index), "BOARD");
  EXPECT_EQ(nearestName("M", index), "");  // short names: case only
  EXPECT_EQ(nearestName("n", index), "N");
  EXPECT_EQ(nearestName("VARIANT", index), "");
  index.remove("BOARD");
  EXPECT_EQ(nearestName("board", index), "board2");
}

// What the index must find: a scan, in byte order, of the names in force that no condition
// defined, by the rule itself.
std::string scanNearest(std::string_view name, const MacroTable& table) {
  std::vector<std::string> names;
  table.forEach([&](const std::string& candidate, const std::string&, const MacroOrigin& origin) {
    if (origin.kind != MacroOrigin::Kind::Condition) names.push_back(candidate);
  });
  for (const std::string& candidate : names) {
    if (candidate != name && equalButForCase(candidate, name)) return candidate;
  }
  if (name.size() < 4) return {};
  for (const std::string& candidate : names) {
    if (candidate.size() >= 4 && oneEditApart(candidate, name)) return candidate;
  }
  return {};
}

// Names from a small alphabet, so that near names are common, defined by conditions and by
// other elements in scopes entered and left at random: the table's index finds what a scan of
// the names in force finds, ties between equally near names included, whenever it was made.
TEST(NearNames, TheTablesIndexFindsWhatAScanFinds) {
  std::mt19937 random(7);
  auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n)(random);
  };
  auto word = [&] {
    std::string text(1 + pick(5), ' ');
    for (char& c : text)
      c = "aAbB\0"[pick(4)];
    return text;
  };
  MacroTable table;
  std::size_t depth = 0;
  for (int round = 0; round < 6000; ++round) {
    const std::size_t action = pick(9);
    if (action == 0 && depth < 4) {
      table.enterScope();
      ++depth;
    } else if (action == 1 && depth > 0) {
      table.leaveScope();
      --depth;
    } else {
      MacroOrigin origin;
      if (action < 5) origin.kind = MacroOrigin::Kind::Condition;
      table.define(word(), origin);
    }
    if (round < 300) continue;  // the index is made from a table that already holds names
    const std::string probe = word();
    ASSERT_EQ(nearestName(probe, table.nearNames()), scanNearest(probe, table)) << probe;
  }
}

}  // namespace

// The check options in the spellings of this tool and of compilers, from the default set.
TEST(CheckOptions, DefaultSetAndCompilerSpellings) {
  struct Case {
    std::vector<std::string_view> args;
    bool strict;
    std::vector<Check> on, off;
    bool asErrors;
  };
  const Case cases[] = {
      {{},
       false,
       {Check::MisspelledMacro, Check::UnclosedElement},
       {Check::UnresolvedMacro},
       false},
      {{"-w"}, false, {}, {Check::MisspelledMacro, Check::UnclosedElement}, false},
      {{"-Wall", "-w"}, false, {}, {Check::UnresolvedMacro}, false},
      {{"-Wall"}, false, {Check::UnresolvedMacro, Check::TextDropped}, {}, false},
      {{"-Wunresolved-macro"},
       false,
       {Check::UnresolvedMacro, Check::NulByte},
       {Check::TextDropped},
       false},
      {{"-Wno-misspelled-macro"}, false, {Check::NulByte}, {Check::MisspelledMacro}, false},
      {{"--warn", "--no-warn=nul-byte,utf16-input"},
       false,
       {Check::TextDropped},
       {Check::NulByte, Check::Utf16Input},
       false},
      {{"-Werror"}, false, {Check::MisspelledDirective}, {Check::UnreadAttribute}, true},
      {{"-Wno-nul-byte"}, true, {Check::UnreadAttribute}, {Check::NulByte}, true},
  };
  for (const Case& c : cases) {
    CheckOptions options;
    for (const std::string_view arg : c.args)
      ASSERT_TRUE(*options.read(arg)) << arg;
    const CheckSettings settings = options.settings(c.strict);
    for (const Check check : c.on)
      EXPECT_TRUE(settings.on(check)) << c.args.size() << " " << checkName(check);
    for (const Check check : c.off)
      EXPECT_FALSE(settings.on(check)) << c.args.size() << " " << checkName(check);
    EXPECT_EQ(settings.asErrors, c.asErrors) << c.args.size();
  }
  // An unknown check names the closest one; a name far from all names none.
  CheckOptions options;
  EXPECT_EQ(options.read("-Wunclosed-elemnt").error().message,
            "xmlpp: unknown check \"unclosed-elemnt\" in -Wunclosed-elemnt; did you mean "
            "unclosed-element? (see xmlpp --help)");
  EXPECT_EQ(options.read("--warn=zzz").error().message,
            "xmlpp: unknown check \"zzz\" in --warn=zzz (see xmlpp --help)");
}

TEST(NearNames, ClosestNameAllowsMoreEditsForLongerNames) {
  const std::vector<std::string_view> names = {"--warn", "--trace", "--trace=", "-o", "--utf8"};
  EXPECT_EQ(closestName("--wran", names), "--warn");     // a swap
  EXPECT_EQ(closestName("--traces", names), "--trace");  // the first of equally near ones
  EXPECT_EQ(closestName("--tarce=", names), "--trace=");
  EXPECT_EQ(closestName("--wrn", names), "--warn");     // one edit in a name of 5 bytes
  EXPECT_EQ(closestName("--wrnn", names), "");          // two edits in one of 6
  EXPECT_EQ(closestName("--utff88", names), "--utf8");  // two in one of 8
  EXPECT_EQ(closestName("-x", names), "");              // never for names of 3 bytes or fewer
}
