#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "macros/MacroEnvironment.h"
#include "macros/MacroList.h"
#include "macros/MacroTable.h"

namespace {

struct ExpandCase {
  const char* input;
  const char* expected;
};

class ExpandTest : public ::testing::TestWithParam<ExpandCase> {
 protected:
  MacroEnvironment env{"/opt/t"};
  MacroTable local{MacroMap{{"A", "1"},
                            {"B", "x"},
                            {"R", "$(B)"},
                            {"D", "$(A:$)$(A:$)"},
                            {"N", "$(N)$(N)"},
                            {"Date", "fixed"}}};
};

TEST_P(ExpandTest, WithLocalTable) {
  EXPECT_EQ(env.expand(local, GetParam().input), GetParam().expected) << GetParam().input;
}

const ExpandCase kExpandCases[] = {
    ExpandCase{"$(A)", "1"}, ExpandCase{"[$(A)]", "[1]"}, ExpandCase{"$(A)$(B)", "1x"},
    ExpandCase{"$(C)", "$(C)"}, ExpandCase{"$(C:none)", "none"}, ExpandCase{"$(C:)", ""},
    ExpandCase{"$(A:none)", "1"}, ExpandCase{"$(R)", "$(B)"}, ExpandCase{"$(C:$(A))", "1"},
    ExpandCase{"$(C::$(A))", "$(A)"}, ExpandCase{"$$(A)", "$(A)"},
    ExpandCase{"$(C:x)$$(A)", "x$(A)"}, ExpandCase{"$(C:$(B))$$(A)", "x1"},
    ExpandCase{"cost: 5$", "cost: 5$"}, ExpandCase{"a$b", "a$b"}, ExpandCase{"$(f(x))", "$(f(x))"},
    ExpandCase{"", ""},
    // A literal default clears the re-scan flag for the whole pass.
    ExpandCase{"$(C:$(B))$(E::y)", "$(B)y"}, ExpandCase{"$(C:a:b)", "a:b"},
    ExpandCase{"$(C:::x)", ":x"},
    // Bounded: a fixed point, nested names, unterminated references.
    ExpandCase{"$($(A))", "$($(A))"}, ExpandCase{"$(N)", "$(N)$(N)"}, ExpandCase{"$(A", "$(A"},
    ExpandCase{"$(A $(B)", "$(A x"}, ExpandCase{"$($($(A)", "$($(1"},
    ExpandCase{"$(C:(A)", "$(C:(A)"}, ExpandCase{"$(A)$", "1$"},
    ExpandCase{"$(D)x", "$(A:$)$(A:$)x"}, ExpandCase{"a$$$(B)$", "a$x$"}};

INSTANTIATE_TEST_SUITE_P(Rules, ExpandTest, ::testing::ValuesIn(kExpandCases));

// A prepared expansion writes what the expansion gives, with the values the table holds when it
// is written; a text it cannot prepare is left to the expansion.
TEST_P(ExpandTest, PreparedAsExpanded) {
  const std::string text = GetParam().input;
  const std::optional<PreparedExpansion> prepared = env.prepare(local, text);
  // Not prepared: a "$" inside a reference, or one that is not terminated.
  const std::set<std::string> needMore{"$(C:$(A))",        "$(C::$(A))", "$(C:$(B))$$(A)",
                                       "$(C:$(B))$(E::y)", "$($(A))",    "$(A",
                                       "$(A $(B)",         "$($($(A)",   "$(C:(A)"};
  const bool onePlainPass = !needMore.contains(text);
  ASSERT_EQ(prepared.has_value(), onePlainPass) << text;
  if (!prepared) return;
  // Values of each size the writing copies its own way: under 4 bytes, 4 to 7, 8 to 16, more.
  for (const char* a : {"1", "", "abcde", "0123456789", "0123456789abcdef", "0123456789abcdefg",
                        "a much longer value $(B)"}) {
    local.set("A", a, MacroOrigin{});
    const std::string expanded = env.expand(local, text).value();
    ASSERT_EQ(prepared->size(), expanded.size()) << text;
    std::string written(expanded.size(), '?');
    prepared->writeTo(written.data());
    EXPECT_EQ(written, expanded) << text;
  }
}

TEST(Expand, PreparedValuesAreBoundedTo16MiB) {
  MacroEnvironment env("/opt/t");
  constexpr std::size_t kBound = MacroEnvironment::kMaxValueSize;
  MacroTable table(MacroMap{{"X", std::string(kBound - 1, 'a')}});
  const std::optional<PreparedExpansion> prepared = env.prepare(table, "$(X)b");
  ASSERT_TRUE(prepared);
  EXPECT_EQ(prepared->size(), kBound);
  table.set("X", std::string(kBound, 'a'), MacroOrigin{});
  EXPECT_FALSE(prepared->size());
  // A text over 4 KiB is left to the expansion.
  EXPECT_TRUE(env.prepare(table, std::string(4096 - 4, '$') + "$(X)"));
  EXPECT_FALSE(env.prepare(table, std::string(4096 - 3, '$') + "$(X)"));
}

TEST(Expand, DateFoundInATableIsTheCurrentDate) {
  MacroEnvironment env("/opt/t");
  std::string date = *env.expand(MacroTable(MacroMap{{"Date", "fixed"}}), "$(Date)");
  EXPECT_TRUE(std::regex_match(date, std::regex("[1-9][0-9]? [A-Z][a-z]+ [0-9]{4}"))) << date;
  EXPECT_EQ(env.expand(MacroTable(), "$(Date)"), "$(Date)");
  // A prepared expansion would write the table's value: it is left to the expansion.
  EXPECT_FALSE(env.prepare(MacroTable(MacroMap{{"Date", "fixed"}}), "[$(Date)]"));
  EXPECT_TRUE(env.prepare(MacroTable(), "[$(Date)]"));
  EXPECT_NE(env.expandWithSystemMacros("$(Date)"), "$(Date)");
}

// A result of exactly 16 MiB is built; one byte more, in the result or in any pass on the way to
// it, fails the expansion, and a value that doubles at each pass fails as soon as it passes the
// bound.
TEST(Expand, ValuesBuiltAreBoundedTo16MiB) {
  MacroEnvironment env("/opt/t");
  constexpr std::size_t kBound = std::size_t{16} << 20;
  static_assert(MacroEnvironment::kMaxValueSize == kBound);
  const MacroTable table(MacroMap{{"X", std::string(kBound - 1, 'a')}, {"Y", "$(X)bc"}});
  EXPECT_EQ(env.expand(table, "$(X)b").value_or("").size(), kBound);
  EXPECT_FALSE(env.expand(table, "$(X)bc"));
  EXPECT_FALSE(env.expand(table, "$(Y:$)"));       // the second pass is too long
  EXPECT_EQ(env.expand(table, "$(Y)"), "$(X)bc");  // one pass: the value is not re-scanned
  const MacroTable doubling(MacroMap{{"D", "$(D:$)$(D:$)"}});
  EXPECT_EQ(env.expand(doubling, "$(D)"), "$(D:$)$(D:$)");
  EXPECT_FALSE(env.expand(doubling, "$(D:$)"));
  // A pass stops as soon as it is past the bound: ten references to an 8 MiB value build no more
  // than about twice the bound.
  const MacroTable large(MacroMap{{"L", std::string(kBound / 2, 'l')}});
  std::string storage;
  EXPECT_FALSE(env.expand(large, "$(L)$(L)$(L)$(L)$(L)$(L)$(L)$(L)$(L)$(L)", false, storage));
  EXPECT_LT(storage.size(), 2 * kBound);
  // A value that re-scans itself and grows by 1 MiB a pass stops once the passes have written
  // 64 MiB: after its 11th pass, which holds 11 copies of the padding (1 + 2 + ... + 11 = 66).
  const MacroTable growing(MacroMap{{"R", std::string(kBound / 16, 'p') + "$(R:$(X))"}});
  const std::optional<std::string> grown = env.expand(growing, "$(R:$(X))");
  ASSERT_TRUE(grown);
  EXPECT_EQ(grown->size(), 11 * (kBound / 16) + 9);
  // A text given longer than the bound is not built when it holds no reference.
  EXPECT_EQ(env.expand(MacroTable(), std::string(kBound + 1, 'a')).value_or("").size(), kBound + 1);
}

TEST(Expand, ManyUnterminatedReferencesStayLinear) {
  MacroEnvironment env("/opt/t");
  std::string text;
  for (int i = 0; i < 200000; ++i)
    text += "$(";
  EXPECT_EQ(env.expand(MacroTable(), text), text);
}

// An observed expansion tells each reference of each pass, and gives what the plain one gives.
TEST(Expand, ObservedReferences) {
  struct Recorder : ReferenceObserver {
    std::vector<std::string> seen;
    void resolved(const ResolvedReference& r) override {
      static constexpr const char* kSources[] = {"macro", "system", "default", "unresolved"};
      std::string line = std::to_string(r.pass) + " " + std::string(r.reference) + " " +
                         std::string(r.name) + "=" + std::string(r.value) + " " +
                         kSources[static_cast<int>(r.source)];
      if (r.origin) line += r.origin->kind == MacroOrigin::Kind::Define ? " define" : " other";
      seen.push_back(line);
    }
  };
  MacroEnvironment env("/opt/t");
  MacroTable table;
  table.set("A", "x$(B)", MacroOrigin{MacroOrigin::Kind::Define, nullptr, nullptr});
  table.set("B", "b", MacroOrigin{});
  // A "$" inside a reference (here in a default) makes the pass ask for a re-scan.
  const std::string text = "$(A)-$(C:d$)-$(D)-$(HostOS)";
  Recorder recorder;
  std::string observed;
  std::string plain;
  std::string unresolved;
  const auto got = env.expand(table, text, true, observed, recorder, &unresolved);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, "xb-d$-$(D)-linux");
  EXPECT_EQ(*got, *env.expand(table, text, true, plain));
  EXPECT_EQ(unresolved, "$(D)");
  const std::vector<std::string> expected = {
      "0 $(A) A=x$(B) macro define",     "0 $(C:d$) C=d$ default", "0 $(D) D=$(D) unresolved",
      "0 $(HostOS) HostOS=linux system", "1 $(B) B=b macro other", "1 $(D) D=$(D) unresolved",
  };
  EXPECT_EQ(recorder.seen, expected);
}

// Listings of the table (completion, the trace's scopes) come in byte order, bytes above 0x7F
// after ASCII, a name before the longer ones it begins.
TEST(MacroTable, ListsNamesInByteOrder) {
  const std::vector<std::string> names{"",  "A",  "AB",    "A_",       "B",   "Z9",
                                       "a", "ab", "a\x7F", "\xC3\xA9", "\xFF"};
  MacroTable table;
  for (auto it = names.rbegin(); it != names.rend(); ++it)
    table.set(*it, "v", MacroOrigin{});
  std::vector<std::string> listed;
  table.forEach([&](const std::string& name, const std::string&, const MacroOrigin&) {
    listed.push_back(name);
  });
  EXPECT_EQ(listed, names);
  for (const std::string& name : names)
    EXPECT_TRUE(table.find(name)) << name;
  EXPECT_FALSE(table.find(std::string("A\0", 2)));
  // Long names differing past their first bytes, above 0x7F too.
  const std::string prefix(40, 'p');
  MacroTable longNames;
  for (const char* tail : {"\xFF", "b", "a", "\x80", ""})
    longNames.set(prefix + tail, tail, MacroOrigin{});
  listed.clear();
  longNames.forEach([&](const std::string& name, const std::string&, const MacroOrigin&) {
    listed.push_back(name.substr(prefix.size()));
  });
  EXPECT_EQ(listed, (std::vector<std::string>{"", "a", "b", "\x80", "\xFF"}));
  EXPECT_EQ(*longNames.find(prefix + "\x80"), "\x80");
  EXPECT_FALSE(table.find("\xC3"));
}

// Random definitions in random nested scopes against the plain model of scopes as copies: a
// definition shadows, leaves with its scope, and never leaks into an enclosing one.
TEST(MacroTable, ScopesBehaveAsCopies) {
  std::uint32_t seed = 3;
  auto below = [&](std::uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  const std::string names[] = {"A", "B", "C", "D", "E", "F"};
  MacroTable table(MacroMap{{"A", "top"}, {"B", ""}});
  std::vector<MacroMap> model{{{"A", "top"}, {"B", ""}}};
  for (int step = 0; step < 20000; ++step) {
    const std::string& name = names[below(6)];
    const std::string value = std::to_string(step);
    switch (below(5)) {
      case 0:
        table.enterScope();
        model.push_back(model.back());
        break;
      case 1:
        if (model.size() > 1) {
          table.leaveScope();
          model.pop_back();
        }
        break;
      case 2:
        table.findOrInsert(name, [] { return MacroOrigin{}; });
        model.back().emplace(name, "");
        break;
      default:
        table.set(name, value, {});
        model.back()[name] = value;
        break;
    }
    for (const std::string& n : names) {
      const auto it = model.back().find(n);
      const std::string* found = table.find(n);
      ASSERT_EQ(found != nullptr, it != model.back().end()) << step << " " << n;
      if (found) {
        ASSERT_EQ(*found, it->second) << step << " " << n;
      }
    }
  }
}

// A -D item: ";" is an ordinary character, backslash escapes and "=" as in the list.
TEST(MacroList, OneItem) {
  struct Case {
    const char* text;
    MacroMap expected;
  } cases[] = {
      {"", {}},
      {"A", {{"A", ""}}},
      {"A=1;B=2", {{"A", "1;B=2"}}},
      {"P=a\\\\b\\;c\\", {{"P", "a\\b;c\\"}}},
      {"=v", {{"", "v"}}},
  };
  for (const Case& c : cases) {
    MacroMap map;
    addMacroItem(map, c.text);
    EXPECT_EQ(map, c.expected) << c.text;
  }
  MacroMap replaced{{"A", "old"}, {"B", "kept"}};
  addMacroItem(replaced, "A=new");
  EXPECT_EQ(replaced, (MacroMap{{"A", "new"}, {"B", "kept"}}));
}

// A macros file: one item a line, "#" lines skipped, CR LF line ends, the last line unended.
TEST(MacroList, Lines) {
  MacroMap map{{"KEEP", "1"}, {"A", "list"}};
  addMacroLines(map, "# board\nA=1;2\r\n\n  #x=not a comment\nB=a\\\\b\nA=3\nC");
  EXPECT_EQ(
      map,
      (MacroMap{{"KEEP", "1"}, {"A", "3"}, {"  #x", "not a comment"}, {"B", "a\\b"}, {"C", ""}}));
  MacroMap crOnly;
  addMacroLines(crOnly, "A=1\r");
  EXPECT_EQ(crOnly, (MacroMap{{"A", "1"}}));
}

}  // namespace
