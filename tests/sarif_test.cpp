#include "driver/Sarif.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "driver/CheckOptions.h"
#include "xmlpp/Checks.h"

namespace {

struct ColumnCase {
  const char* what;
  std::string_view text;
  int line;        // from 0
  int byteColumn;  // from 1
  int column;      // in code points from 1; 0 for none
};

const ColumnCase kColumnCases[] = {
    {"ASCII", "<a>\n  <b/>\n", 1, 3, 3},
    {"first column", "<a/>", 0, 1, 1},
    {"after two-byte characters", "\xC3\xA9\xC3\xA9<b/>", 0, 5, 3},
    {"after a four-byte character", "\xF0\x9F\x98\x80<b/>", 0, 5, 2},
    {"each stray byte one", "\xFF\xFE\xE2\x82<b/>", 0, 5, 5},
    {"inside a character: that character", "x\xE2\x82\xAC<", 0, 3, 2},
    {"carriage return line ends",
     "a\rb\r\n\xC3\xA9"
     "c",
     2, 3, 2},
    {"both together are one end", "a\r\nb", 1, 1, 1},
    {"no such line", "a\nb", 2, 1, 0},
    {"past the line's end", "ab\ncd", 0, 4, 0},
    {"the end of the line", "ab\ncd", 0, 3, 3},
};

class ColumnTable : public testing::TestWithParam<ColumnCase> {};

TEST_P(ColumnTable, CountsCodePoints) {
  const ColumnCase& row = GetParam();
  EXPECT_EQ(codePointColumn(row.text, row.line, row.byteColumn), row.column) << row.what;
}

INSTANTIATE_TEST_SUITE_P(Rows, ColumnTable, testing::ValuesIn(kColumnCases));

TEST(Sarif, FileUris) {
  EXPECT_EQ(fileUri("in.xml"), "in.xml");
  EXPECT_EQ(fileUri("./sub/a-b_c~.xml"), "./sub/a-b_c~.xml");
  EXPECT_EQ(fileUri("/abs/x.xml"), "file:///abs/x.xml");
  // A colon would read as a scheme, "%" and "#" as escapes and a fragment.
  EXPECT_EQ(fileUri("c:x #1%.xml"), "c%3Ax%20%231%25.xml");
  EXPECT_EQ(fileUri("caf\xC3\xA9\xFF"), "caf%C3%A9%FF");
  // The ends of the unreserved ranges stay; their neighbours are escaped.
  EXPECT_EQ(fileUri("/09AZaz/:@[`{"), "file:///09AZaz/%3A%40%5B%60%7B");
}

using Json = nlohmann::json;

TEST(Sarif, LogOfARun) {
  Diagnostic warning = Diagnostic::found("misspelled-directive", "<Define> is no \xFF directive",
                                         {{SourceLocation::Role::At, "/nonexistent/a.xml", 1, 3},
                                          {SourceLocation::Role::PutFrom, "b.xml", 0, 0}});
  warning.severity = Severity::Warning;
  const Diagnostic failure = Diagnostic::failure("xmlpp: couldn't read x", {}, 2);
  const Json log = Json::parse(sarifLog({warning, failure}, 1));
  EXPECT_EQ(log["version"], "2.1.0");
  const Json& run = log["runs"][0];
  EXPECT_EQ(run["columnKind"], "unicodeCodePoints");
  const Json& rules = run["tool"]["driver"]["rules"];
  ASSERT_EQ(rules.size(), kCheckCount + 1);
  for (std::size_t i = 0; i < kCheckCount; ++i)
    EXPECT_EQ(rules[i]["id"], std::string(kChecks[i].name));
  EXPECT_EQ(rules[kCheckCount]["id"], "failure");
  const Json& first = run["results"][0];
  EXPECT_EQ(first["ruleId"], "misspelled-directive");
  EXPECT_EQ(rules[first["ruleIndex"].get<std::size_t>()]["id"], "misspelled-directive");
  EXPECT_EQ(first["level"], "warning");
  EXPECT_EQ(first["message"]["text"], "<Define> is no \\xFF directive");
  const Json& at = first["locations"][0]["physicalLocation"];
  EXPECT_EQ(at["artifactLocation"]["uri"], "file:///nonexistent/a.xml");
  EXPECT_FALSE(at["artifactLocation"].contains("uriBaseId"));
  // The file cannot be read for the column: the line alone.
  EXPECT_EQ(at["region"], Json({{"startLine", 2}}));
  const Json& put = first["relatedLocations"][0];
  EXPECT_EQ(put["message"]["text"], "put from here");
  EXPECT_EQ(put["physicalLocation"]["artifactLocation"]["uriBaseId"], "WORKDIR");
  const Json& second = run["results"][1];
  EXPECT_EQ(second["ruleId"], "failure");
  EXPECT_EQ(second["level"], "error");
  EXPECT_EQ(second["message"]["text"], "couldn't read x: No such file or directory");
  EXPECT_FALSE(second.contains("locations"));
  EXPECT_EQ(run["invocations"][0]["exitCode"], 1);
  EXPECT_EQ(run["invocations"][0]["executionSuccessful"], false);
}

TEST(Sarif, NoResultsIsAnEmptyArray) {
  const Json run = Json::parse(sarifLog({}, 0))["runs"][0];
  EXPECT_TRUE(run["results"].is_array());
  EXPECT_TRUE(run["results"].empty());
  EXPECT_EQ(run["invocations"][0]["executionSuccessful"], true);
}

TEST(CheckOptions, SarifForms) {
  CheckOptions options;
  EXPECT_TRUE(*options.read("--diagnostics=sarif:out/log.sarif"));
  EXPECT_EQ(options.format, DiagnosticFormat::Sarif);
  EXPECT_EQ(options.sarifFile, "out/log.sarif");
  EXPECT_TRUE(*options.read("--diagnostics=sarif"));
  EXPECT_EQ(options.sarifFile, "");
  EXPECT_FALSE(options.read("--diagnostics=sarif:"));
  EXPECT_FALSE(options.read("--diagnostics=sarifx"));
}

}  // namespace
