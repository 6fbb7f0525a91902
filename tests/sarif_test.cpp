#include "driver/Sarif.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "xmlpp/Checks.h"

namespace {

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
  // The columns come in code points already (Reporter converts them).
  EXPECT_EQ(at["region"], Json({{"startLine", 2}, {"startColumn", 3}}));
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

}  // namespace
