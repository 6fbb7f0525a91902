#pragma once

// The directive schema: every directive, the attributes it reads and what it does, in one table.
// The walk dispatches on it, the directive checks read it (unread, missing and misspelled
// attributes and names), the trace words its notes with it, the language server offers its
// completion, hover and outline from it, and --help and docs/directives.md show it as a table.

#include <array>
#include <cstdint>
#include <string_view>

// The names of the attributes the directives read.
namespace attr {
inline constexpr std::string_view kExpression = "expression";
inline constexpr std::string_view kName = "name";
inline constexpr std::string_view kValue = "value";
inline constexpr std::string_view kFilename = "filename";
inline constexpr std::string_view kMacros = "macros";
inline constexpr std::string_view kInheritAttributes = "inherit_attributes";
inline constexpr std::string_view kNoRoot = "no_root";
inline constexpr std::string_view kExpandMacros = "expand_macros";
inline constexpr std::string_view kHexExpression = "hex_expression";
inline constexpr std::string_view kIndex = "index";
inline constexpr std::string_view kStart = "start";
inline constexpr std::string_view kEnd = "end";
inline constexpr std::string_view kIncr = "incr";
inline constexpr std::string_view kAdd = "add";
inline constexpr std::string_view kSub = "sub";
inline constexpr std::string_view kMul = "mul";
}  // namespace attr

// The root element name of an included file that is always unwrapped.
inline constexpr std::string_view kEnvelope = "envelope";

// The directives, in the order the walk tests names, then the branches of a switch, which only
// their switch reads.
enum class DirectiveId : std::uint8_t {
  If,
  Ifnot,
  Ifex,
  Ifdef,
  Ifndef,
  Switch,
  Include,
  Define,
  For,
  Xmldef,
  Xmlput,
  Foreach,
  Case,
  Default,
};

// The group whose handler carries a directive out.
enum class DirectiveGroup : std::uint8_t { Conditionals, IncludeDefinitions, Loops, Branches };

// How a directive treats one of its attributes.
enum class AttributeUse : std::uint8_t {
  Read,      // read when present
  Required,  // read, and needed (see Directive::without)
  NoEffect,  // accepted, and changes nothing
};

struct DirectiveAttribute {
  std::string_view name;  // empty: no attribute (the end of the list)
  AttributeUse use = AttributeUse::Read;
};

struct Directive {
  DirectiveId id;
  std::string_view name;
  DirectiveGroup group;
  // The names of its attributes are data (the macro an if tests, the variables of a foreach):
  // it reads any attribute.
  bool anyAttribute;
  std::array<DirectiveAttribute, 8> attributes;
  // What the directive does without a required attribute when that is no failure of the run
  // (the missing-attribute check says so); empty when the run fails or nothing is required.
  std::string_view without;
  std::string_view summary;  // one line, for --help, hover and completion
  // The variables a for loop defines for each iteration: its index's name followed by each of
  // these (a foreach defines one for each of its attributes, by the attribute's name).
  std::array<std::string_view, 5> loopSuffixes;

  // Whether it is carried out where the walk meets it (a case or default is read by its switch).
  constexpr bool walked() const { return group != DirectiveGroup::Branches; }
  // How it treats the attribute `name`; nothing for one it does not read.
  const DirectiveAttribute* attribute(std::string_view name) const;
  // Whether it accepts `name` (any attribute, for one whose attribute names are data), and
  // whether it reads its value.
  bool accepts(std::string_view name) const { return anyAttribute || attribute(name) != nullptr; }
  bool reads(std::string_view name) const {
    const DirectiveAttribute* a = attribute(name);
    return anyAttribute || (a && a->use != AttributeUse::NoEffect);
  }
  // The attribute it needs, when its absence is no failure (see `without`); empty for none.
  std::string_view required() const;
};

inline constexpr Directive kDirectives[] = {
    {DirectiveId::If,
     "if",
     DirectiveGroup::Conditionals,
     true,
     {},
     {},
     "kept when the macro named by its attribute has one of the listed values",
     {}},
    {DirectiveId::Ifnot,
     "ifnot",
     DirectiveGroup::Conditionals,
     true,
     {},
     {},
     "kept unless the macro named by its attribute has one of the listed values",
     {}},
    {DirectiveId::Ifex,
     "ifex",
     DirectiveGroup::Conditionals,
     false,
     {{{attr::kExpression, AttributeUse::Required}}},
     "it is written out as an ordinary element",
     "kept when the expression is true",
     {}},
    {DirectiveId::Ifdef,
     "ifdef",
     DirectiveGroup::Conditionals,
     false,
     {{{attr::kName, AttributeUse::Required}}},
     "its condition is always false",
     "kept when the macro is defined",
     {}},
    {DirectiveId::Ifndef,
     "ifndef",
     DirectiveGroup::Conditionals,
     false,
     {{{attr::kName, AttributeUse::Required}}},
     "its condition is always true",
     "kept when the macro is not defined",
     {}},
    {DirectiveId::Switch,
     "switch",
     DirectiveGroup::Conditionals,
     false,
     {{{attr::kName, AttributeUse::Required}}},
     "it tests the empty name",
     "keeps the case whose value the macro has, else the default",
     {}},
    {DirectiveId::Include,
     "include",
     DirectiveGroup::IncludeDefinitions,
     false,
     {{{attr::kFilename, AttributeUse::Required},
       {attr::kMacros},
       {attr::kInheritAttributes},
       {attr::kNoRoot},
       {attr::kExpandMacros, AttributeUse::NoEffect}}},
     {},
     "inserts a file",
     {}},
    {DirectiveId::Define,
     "define",
     DirectiveGroup::IncludeDefinitions,
     false,
     {{{attr::kName, AttributeUse::Required},
       {attr::kValue},
       {attr::kExpression},
       {attr::kHexExpression}}},
     {},
     "defines a macro",
     {}},
    {DirectiveId::For,
     "for",
     DirectiveGroup::Loops,
     false,
     {{{attr::kIndex, AttributeUse::Required},
       {attr::kStart, AttributeUse::Required},
       {attr::kEnd, AttributeUse::Required},
       {attr::kIncr, AttributeUse::Required},
       {attr::kAdd},
       {attr::kSub},
       {attr::kMul}}},
     {},
     "repeats its body",
     {"", "_alpha", "_hex", "_ap", "_ap_hex"}},
    {DirectiveId::Xmldef,
     "xmldef",
     DirectiveGroup::IncludeDefinitions,
     false,
     {{{attr::kName, AttributeUse::Required}}},
     "it is written out as an ordinary element",
     "defines a fragment for xmlput",
     {}},
    {DirectiveId::Xmlput,
     "xmlput",
     DirectiveGroup::IncludeDefinitions,
     false,
     {{{attr::kName, AttributeUse::Required},
       {attr::kMacros},
       {attr::kExpandMacros, AttributeUse::NoEffect}}},
     "it is written out as an ordinary element",
     "inserts a fragment defined by xmldef",
     {}},
    {DirectiveId::Foreach,
     "foreach",
     DirectiveGroup::Loops,
     true,
     {},
     {},
     "repeats its body for each value of its attributes' lists",
     {}},
    {DirectiveId::Case,
     "case",
     DirectiveGroup::Branches,
     false,
     {{{attr::kValue, AttributeUse::Required}}},
     "it never matches",
     "a branch of a switch",
     {}},
    {DirectiveId::Default,
     "default",
     DirectiveGroup::Branches,
     false,
     {},
     {},
     "the branch of a switch taken when no case matches",
     {}},
};
inline constexpr std::size_t kDirectiveCount = sizeof kDirectives / sizeof kDirectives[0];

constexpr const Directive& directive(DirectiveId id) {
  return kDirectives[static_cast<std::size_t>(id)];
}
constexpr std::string_view directiveName(DirectiveId id) {
  return directive(id).name;
}

// The directive of an element name (names are compared exactly), or null.
const Directive* directiveNamed(std::string_view name);
