#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "macros/MacroEnvironment.h"
#include "xmlpp/Preprocessor.h"
#include "xmlpp/Scope.h"
#include "xmlpp/Walker.h"

namespace {

// A document whose reportError records the message and returns, so the walk's fallbacks can be
// observed.
class RecordingDocument : public XMLPP2 {
 public:
  RecordingDocument() : XMLPP2(false) {}
  void reportError(const std::string& message) override { errors.push_back(message); }
  std::vector<std::string> errors;
};

class WalkTest : public ::testing::Test {
 protected:
  void SetUp() override { setMacroEnvironment(&env_); }
  void TearDown() override { setMacroEnvironment(nullptr); }

  std::string process(const std::string& text, MacroMap macros = {}) {
    EXPECT_TRUE(doc_.loadText(text));
    Scope scope(std::move(macros));
    processConditionals(doc_, doc_.root, "in.xml", scope, true);
    std::string out;
    doc_.write(out, 0, 0);
    return out;
  }

  MacroEnvironment env_;
  RecordingDocument doc_;
};

TEST_F(WalkTest, FallbacksWhenReportErrorReturns) {
  struct Case {
    const char* input;
    const char* output;
    const char* error;
  } cases[] = {
      {"<r><if a='1' b='2'><x/></if></r>", "<r><if a=\"1\" b=\"2\"><x/></if></r>",
       "one condition required for <if[not]>"},
      {"<r><include><x/></include></r>", "<r><include><x/></include></r>",
       "missing filename in <include>"},
      {"<r><include filename='none.xml' no_root=''><x/></include></r>", "<r><x/></r>",
       "error \"couldn't read ./none.xml\" in include file ./none.xml line:0"},
      {"<r><define/><y/></r>", "<r><y/></r>", "missing name in <define>"},
      {"<r><define name='a'/><y/></r>", "<r><y/></r>", "missing value or expression in <define>"},
      {"<r><for index='i'><x/></for><y/></r>", "<r><y/></r>",
       "<for index=\"i\" start=\"0\" end=\"32\" incr=\"1\">"},
      {"<r><for index='i' start='0' end='1' incr='0'><x/></for></r>", "<r/>",
       "<for index=\"i\"> never ends"},
      {"<r><xmlput name='n'><x/></xmlput></r>", "<r><xmlput name=\"n\"><x/></xmlput></r>",
       "xmlput cannot fine xmldef named n"},
      {"<if a=''><x/></if>", "<if a=\"\"><x/></if>", "<if> cannot be the root element"},
  };
  for (const Case& c : cases) {
    RecordingDocument doc;
    ASSERT_TRUE(doc.loadText(c.input));
    Scope scope;
    processConditionals(doc, doc.root, "in.xml", scope, true);
    std::string out;
    doc.write(out, 0, 0);
    EXPECT_EQ(out, c.output) << c.input;
    ASSERT_EQ(doc.errors.size(), 1u) << c.input;
    EXPECT_EQ(doc.errors[0], std::string("XmlPP::processConditionals(): ") + c.error);
  }
}

TEST_F(WalkTest, DeepDocumentsWalkWithoutRecursion) {
  constexpr int kDepth = 100000;
  std::string deep;
  for (int i = 0; i < kDepth; ++i)
    deep += "<a v='$(X)'>";
  for (int i = 0; i < kDepth; ++i)
    deep += "</a>";
  ASSERT_TRUE(doc_.loadText(deep));
  Scope scope(MacroMap{{"X", "1"}});
  processConditionals(doc_, doc_.root, "in.xml", scope, true);
  int depth = 0;
  for (XMLNode* n = doc_.root; n; n = n->firstChild, ++depth) {
    ASSERT_EQ(*static_cast<XMLElement*>(n)->attribute("v"), "1");
  }
  EXPECT_EQ(depth, kDepth);

  std::string ifs = "<r>";
  for (int i = 0; i < kDepth; ++i)
    ifs += "<if A='1'>";
  ifs += "<x/>";
  for (int i = 0; i < kDepth; ++i)
    ifs += "</if>";
  ifs += "</r>";
  RecordingDocument doc;
  ASSERT_TRUE(doc.loadText(ifs));
  Scope top(MacroMap{{"A", "1"}});
  processConditionals(doc, doc.root, "in.xml", top, true);
  std::string out;
  doc.write(out, 0, 0);
  EXPECT_EQ(out, "<r><x/></r>");
}

TEST_F(WalkTest, TopLevelDefinitionsLandInTheCallersScope) {
  ASSERT_TRUE(doc_.loadText("<r><define name='a' value='1'/></r>"));
  Scope scope;
  // The root's children are a nested scope; a define there does not reach the caller.
  processConditionals(doc_, doc_.root, "in.xml", scope, true);
  EXPECT_EQ(scope.find("a"), nullptr);
  ASSERT_TRUE(doc_.loadText("<r><define name='a' value='1'/><if b='x'/></r>"));
  processConditionals(doc_, doc_.root->firstChild, "in.xml", scope, true);
  ASSERT_NE(scope.find("a"), nullptr);
  EXPECT_EQ(*scope.find("a"), "1");
  ASSERT_NE(scope.find("b"), nullptr);  // the inserting lookup of "if"
}

TEST_F(WalkTest, CopyWithMacrosAndAttributeExpansion) {
  ASSERT_TRUE(doc_.loadText("<a v='$(I)-$(J)' w='plain'><![CDATA[c]]><b x='$(I)'/></a>"));
  XMLElement* copy = copyWithMacros(doc_, doc_.root, {{"I", "7"}});
  doc_.root = copy;
  std::string out;
  doc_.write(out, 0, 0);
  EXPECT_EQ(out, "<a v=\"7-$(J)\" w=\"plain\"><b x=\"7\" /></a>");
  EXPECT_EQ(copy->parent, nullptr);

  const std::string_view before = *copy->attribute("v");
  expandElementAttributes(doc_, copy, {{"K", "1"}});
  EXPECT_EQ(copy->attribute("v")->data(), before.data());  // unchanged value is not rewritten
  expandElementAttributes(doc_, copy, {{"J", ""}});
  EXPECT_EQ(*copy->attribute("v"), "7-");
}

TEST(CombineValueLists, OrderAndEmptyLists) {
  auto combine = [](const std::vector<std::vector<std::string>>& lists) {
    std::string out;
    combineValueLists(lists, [&](const std::vector<std::size_t>& chosen) {
      for (std::size_t k = 0; k < chosen.size(); ++k)
        out += lists[k][chosen[k]];
      out += ';';
    });
    return out;
  };
  EXPECT_EQ(combine({{"1", "2"}, {"x", "y"}}), "1x;1y;2x;2y;");
  EXPECT_EQ(combine({{"1", "2"}, {}}), "");
  EXPECT_EQ(combine({}), ";");
  EXPECT_EQ(combine({{"a"}, {"b"}, {"c", "d"}}), "abc;abd;");
}

}  // namespace
