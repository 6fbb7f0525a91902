#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "diagnostics/JsonText.h"

namespace {

struct JsonTextCase {
  const char* what;
  std::string_view bytes;
  std::string_view text;
};

// Each row: bytes in, text out. Well-formed UTF-8 is kept; every byte of anything else is one
// \xHH, and the bytes after it are read afresh.
const JsonTextCase kJsonTextCases[] = {
    {"ASCII and a backslash kept", "a\\b \"q\"", "a\\b \"q\""},
    {"empty", "", ""},
    {"control bytes and NUL are UTF-8", std::string_view("\x01\x00\x7F", 3),
     std::string_view("\x01\x00\x7F", 3)},
    {"two, three and four bytes", "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
     "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
    {"the ends of the ranges",
     "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
     "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
    {"a Latin-1 byte", "caf\xE9.xml", "caf\\xE9.xml"},
    {"lowercase hex digits never", "\xAB\xFF", "\\xAB\\xFF"},
    {"overlong two bytes", "\xC0\xAF\xC1\xBF", "\\xC0\\xAF\\xC1\\xBF"},
    {"overlong three bytes", "\xE0\x80\xAF", "\\xE0\\x80\\xAF"},
    {"overlong four bytes", "\xF0\x8F\xBF\xBF", "\\xF0\\x8F\\xBF\\xBF"},
    {"surrogates", "\xED\xA0\x80\xED\xBF\xBF", "\\xED\\xA0\\x80\\xED\\xBF\\xBF"},
    {"just below the surrogates", "\xED\x9F\xBF", "\xED\x9F\xBF"},
    {"above U+10FFFF", "\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
    {"lead bytes that never start one", "\xF5\x80\xF8\xFE", "\\xF5\\x80\\xF8\\xFE"},
    {"a stray continuation byte", "a\x80z", "a\\x80z"},
    {"truncated at the end", "ok\xE2\x82", "ok\\xE2\\x82"},
    {"truncated before ASCII", "\xF0\x9F\x98!", "\\xF0\\x9F\\x98!"},
    {"truncated before a valid sequence", "\xE2\xC3\xA9", "\\xE2\xC3\xA9"},
};

class JsonTextTable : public testing::TestWithParam<JsonTextCase> {};

TEST_P(JsonTextTable, EscapesWhatIsNotUtf8) {
  const JsonTextCase& row = GetParam();
  EXPECT_EQ(jsonText(row.bytes), row.text) << row.what;
}

INSTANTIATE_TEST_SUITE_P(Rows, JsonTextTable, testing::ValuesIn(kJsonTextCases));

}  // namespace
