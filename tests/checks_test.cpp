#include "xmlpp/Checks.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

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

}  // namespace
