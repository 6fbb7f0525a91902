#pragma once

// How deeply the expression language lets expressions nest. The parser, the evaluation, the
// copies and the destruction of trees all recurse once per level, so the limit is what keeps any
// input text from exhausting the stack: a text that nests deeper fails like any other bad text.
// It bounds two things:
// - the parsing steps active inside one another: a unary operator, a cast or sizeof costs one,
//   a parenthesis two (the group and its operand), an operator whose right operand binds tighter
//   one more; so about 500 nested parentheses or 1000 nested unary operators are accepted;
// - the height of the trees and types built, which left-associative chains such as
//   1 + 1 + ... + 1 or a[1][1]... grow without any nesting in the text.
// Real expressions nest a few levels; the limit keeps the worst case to under a megabyte of
// stack even in a sanitizer build.
inline constexpr unsigned kMaxExpressionDepth = 1000;

inline constexpr const char* kTooDeepMessage = "expression nested too deeply";
