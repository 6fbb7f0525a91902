#include "expr/ExpressionParser.h"

#include <utility>

#include "expr/Expression.h"
#include "expr/Lexer.h"
#include "expr/Limits.h"
#include "expr/Literals.h"
#include "expr/ParserException.h"
#include "expr/Types.h"

ExpressionParser::NestingGuard::NestingGuard(unsigned& nesting) : nesting_(nesting) {
  if (nesting_ >= kMaxExpressionDepth) throw ParserException(kTooDeepMessage);
  ++nesting_;
}

ExpressionParser::ExpressionParser(std::unique_ptr<Lexer> lexer) : lexer_(std::move(lexer)) {}

ExpressionParser::~ExpressionParser() = default;

std::unique_ptr<Expression> ExpressionParser::parseExpression(std::string_view text,
                                                              std::size_t* position) {
  if (text.empty()) return nullptr;
  nesting_ = 0;
  templateClosePending_ = false;
  lexer_->reset(text);
  auto tree = parseBinary(-4);
  if (position != nullptr) *position = lexer_->position();
  return tree;
}

void ExpressionParser::expect(TokenKind kind, const char* message) {
  if (lexer_->kind() != kind) throw ParserException(message);
}

// Precedence climbing: parses an expression whose binary operators all have a precedence of at
// least `level` (from -4 to 9), every level left-associative. This builds the same trees as one
// recursive function per level, with far fewer nested calls.
std::unique_ptr<Expression> ExpressionParser::parseBinary(int level) {
  NestingGuard guard(nesting_);
  auto left = parseUnary();
  while (true) {
    const int precedence = lexer_->precedence();
    if (precedence < level || precedence > 9) return left;
    const TokenKind kind = lexer_->kind();
    lexer_->next();
    auto right = precedence == 9 ? parseUnary() : parseBinary(precedence + 1);
    left = makeBinary(kind, std::move(left), std::move(right));
  }
}

std::unique_ptr<Expression> ExpressionParser::makeBinary(TokenKind kind,
                                                         std::unique_ptr<Expression> left,
                                                         std::unique_ptr<Expression> right) {
  ExpressionParser& p = *this;
  auto compound = [&](TokenKind op) -> std::unique_ptr<Expression> {
    // The target is a copy of the left operand, taken before the operation node is built.
    auto target = left->duplicate();
    auto value = makeBinary(op, std::move(left), std::move(right));
    return makeNode<AssignExpression>(p, std::move(target), std::move(value));
  };
  switch (kind) {
    case TokenKind::Star:
      return makeNode<MultiplyExpression>(p, std::move(left), std::move(right));
    case TokenKind::Slash:
      return makeNode<DivideExpression>(p, std::move(left), std::move(right));
    case TokenKind::Percent:
      return makeNode<ModExpression>(p, std::move(left), std::move(right));
    case TokenKind::Plus:
      return makeNode<PlusExpression>(p, std::move(left), std::move(right));
    case TokenKind::Minus:
      return makeNode<MinusExpression>(p, std::move(left), std::move(right));
    case TokenKind::ShiftLeft:
      return makeNode<LshiftExpression>(p, std::move(left), std::move(right));
    case TokenKind::ShiftRight:
      return makeNode<RshiftExpression>(p, std::move(left), std::move(right));
    case TokenKind::Less:
      return makeNode<LtExpression>(p, std::move(left), std::move(right));
    case TokenKind::LessEqual:
      return makeNode<LeExpression>(p, std::move(left), std::move(right));
    case TokenKind::Greater:
      return makeNode<GtExpression>(p, std::move(left), std::move(right));
    case TokenKind::GreaterEqual:
      return makeNode<GeExpression>(p, std::move(left), std::move(right));
    case TokenKind::Equal:
      return makeNode<EqExpression>(p, std::move(left), std::move(right));
    case TokenKind::NotEqual:
      return makeNode<NeExpression>(p, std::move(left), std::move(right));
    case TokenKind::Ampersand:
      return makeNode<BitAndExpression>(p, std::move(left), std::move(right));
    case TokenKind::Caret:
      return makeNode<BitXorExpression>(p, std::move(left), std::move(right));
    case TokenKind::Bar:
      return makeNode<BitOrExpression>(p, std::move(left), std::move(right));
    case TokenKind::AndAnd:
      return makeNode<LogicalAndExpression>(p, std::move(left), std::move(right));
    case TokenKind::OrOr:
      return makeNode<LogicalOrExpression>(p, std::move(left), std::move(right));
    case TokenKind::Assign:
      return makeNode<AssignExpression>(p, std::move(left), std::move(right));
    case TokenKind::PlusAssign:
      return compound(TokenKind::Plus);
    case TokenKind::MinusAssign:
      return compound(TokenKind::Minus);
    case TokenKind::StarAssign:
      return compound(TokenKind::Star);
    case TokenKind::SlashAssign:
      return compound(TokenKind::Slash);
    case TokenKind::PercentAssign:
      return compound(TokenKind::Percent);
    case TokenKind::ShiftRightAssign:
      return compound(TokenKind::ShiftRight);
    case TokenKind::ShiftLeftAssign:
      return compound(TokenKind::ShiftLeft);
    case TokenKind::AndAssign:
      return compound(TokenKind::Ampersand);
    case TokenKind::XorAssign:
      return compound(TokenKind::Caret);
    case TokenKind::OrAssign:
      return compound(TokenKind::Bar);
    default:
      // >>>, >>>=, ? and , are tokens of the language without an operation.
      throw ParserException("operator not supported");
  }
}

// ++e and e++ both build e = e + 1 (and -- likewise), with a copy of e as the target.
std::unique_ptr<Expression> ExpressionParser::makeIncrement(bool increment,
                                                            std::unique_ptr<Expression> operand) {
  auto target = operand->duplicate();
  auto one = makeNode<IntegerConstantExpression>(*this, ExpressionValue::signedInteger(1));
  std::unique_ptr<Expression> value;
  if (increment) {
    value = makeNode<PlusExpression>(*this, std::move(operand), std::move(one));
  } else {
    value = makeNode<MinusExpression>(*this, std::move(operand), std::move(one));
  }
  return makeNode<AssignExpression>(*this, std::move(target), std::move(value));
}

std::unique_ptr<Expression> ExpressionParser::parseUnary() {
  NestingGuard guard(nesting_);
  return parsePostfix(parseOperand());
}

// One operand before its postfix operators: a literal, a name, a group, a cast, sizeof,
// addressof or a prefix operator applied to a unary expression. The cases live in helpers so
// that the frames on the recursive path stay small.
std::unique_ptr<Expression> ExpressionParser::parseOperand() {
  switch (lexer_->kind()) {
    case TokenKind::DecimalInteger:
    case TokenKind::HexInteger:
    case TokenKind::BinaryInteger:
    case TokenKind::Float:
    case TokenKind::String:
    case TokenKind::Register:
      return parseLiteral();
    case TokenKind::Identifier:
      if (lexer_->textIs("sizeof")) return parseSizeof();
      if (lexer_->textIs("addressof")) return parseAddressofLine();
      return parseName(false);
    case TokenKind::Scope:
      lexer_->next();
      return parseName(true);
    case TokenKind::LeftParen:
      return parseGroup();
    default:
      return parsePrefix();
  }
}

// A literal or a register name: one token.
std::unique_ptr<Expression> ExpressionParser::parseLiteral() {
  Lexer& lex = *lexer_;
  const std::string_view text = lex.text();
  std::unique_ptr<Expression> result;
  switch (lex.kind()) {
    case TokenKind::Float:
      result = makeNode<FloatConstantExpression>(
          *this, ExpressionValue::floating(floatLiteralValue(text)));
      break;
    case TokenKind::String:
      result = makeNode<StringConstantExpression>(
          *this, ExpressionValue::string(std::string(text.substr(1, text.size() - 2))));
      break;
    case TokenKind::Register:
      result = makeNode<RegisterExpression>(*this, std::string(text.substr(1)));
      break;
    default:
      result = makeNode<IntegerConstantExpression>(
          *this, ExpressionValue::signedInteger(integerLiteralValue(text)));
      break;
  }
  lex.next();
  return result;
}

// "(" starts a cast when a type follows, otherwise a parenthesised expression.
std::unique_ptr<Expression> ExpressionParser::parseGroup() {
  lexer_->next();
  if (auto cast = parseCast()) return cast;
  auto group = parseBinary(-4);
  expect(TokenKind::RightParen, "')' expected");
  lexer_->next();
  return group;
}

// A prefix operator and its operand.
std::unique_ptr<Expression> ExpressionParser::parsePrefix() {
  const TokenKind kind = lexer_->kind();
  switch (kind) {
    case TokenKind::Ampersand:
    case TokenKind::Increment:
    case TokenKind::Decrement:
    case TokenKind::Tilde:
    case TokenKind::Not:
    case TokenKind::Star:
    case TokenKind::Minus:
      lexer_->next();
      return makePrefix(kind, parseUnary());
    case TokenKind::Plus:
      lexer_->next();
      return parseUnary();
    default:
      throw ParserException("expression expected");
  }
}

std::unique_ptr<Expression> ExpressionParser::makePrefix(TokenKind kind,
                                                         std::unique_ptr<Expression> operand) {
  switch (kind) {
    case TokenKind::Ampersand:
      return makeNode<AddressofExpression>(*this, std::move(operand));
    case TokenKind::Increment:
      return makeIncrement(true, std::move(operand));
    case TokenKind::Decrement:
      return makeIncrement(false, std::move(operand));
    case TokenKind::Tilde:
      return makeNode<BitNotExpression>(*this, std::move(operand));
    case TokenKind::Not:
      return makeNode<LogicalNotExpression>(*this, std::move(operand));
    case TokenKind::Star: {
      // *e is e[0], indexed by an unsigned short zero.
      auto zero = makeNode<ConstantExpression>(*this, ExpressionValue::unsignedInteger(0, 2));
      return makeNode<LeftSquareBracketExpression>(*this, std::move(operand), std::move(zero));
    }
    default:
      return makeNode<NegateExpression>(*this, std::move(operand));
  }
}

std::unique_ptr<Expression> ExpressionParser::parseSizeof() {
  Lexer& lex = *lexer_;
  lex.next();
  if (lex.kind() != TokenKind::LeftParen) return makeNode<SizeofExpression>(*this, parseBinary(-4));
  lex.next();
  std::unique_ptr<Expression> result;
  if (auto type = parseTypeName()) {
    expect(TokenKind::RightParen, "')' expected");
    result = makeNode<SizeofExpression>(*this, std::move(type));
  } else {
    auto operand = parseBinary(-4);
    expect(TokenKind::RightParen, "')' expected");
    result = makeNode<SizeofExpression>(*this, std::move(operand));
  }
  lex.next();
  return result;
}

// addressof("file", line)
std::unique_ptr<Expression> ExpressionParser::parseAddressofLine() {
  Lexer& lex = *lexer_;
  lex.next();
  expect(TokenKind::LeftParen, "'(' expected");
  lex.next();
  expect(TokenKind::String, "string expected");
  const std::string_view quoted = lex.text();
  std::string file(quoted.substr(1, quoted.size() - 2));
  lex.next();
  expect(TokenKind::Comma, "',' expected");
  lex.next();
  expect(TokenKind::DecimalInteger, "int expected");
  const auto line = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(static_cast<std::uint64_t>(integerLiteralValue(lex.text()))));
  lex.next();
  expect(TokenKind::RightParen, "')' expected");
  lex.next();
  return makeNode<AddressofLineExpression>(*this, std::move(file), line);
}

std::unique_ptr<Expression> ExpressionParser::parseName(bool global) {
  Lexer& lex = *lexer_;
  expect(TokenKind::Identifier, "identifier expected");
  std::vector<std::string> parts{std::string(lex.text())};
  lex.next();
  while (lex.kind() == TokenKind::Scope) {
    lex.next();
    expect(TokenKind::Identifier, "identifier expected after '::'");
    parts.emplace_back(lex.text());
    lex.next();
  }
  if (parts.size() == 1 && !global)
    return makeNode<IdentifierExpression>(*this, std::move(parts.front()));
  return makeNode<ScopedIdentifierExpression>(*this, std::move(parts));
}

std::unique_ptr<Expression> ExpressionParser::parsePostfix(std::unique_ptr<Expression> base) {
  Lexer& lex = *lexer_;
  while (true) {
    switch (lex.kind()) {
      case TokenKind::LeftBracket: {
        lex.next();
        auto index = parseBinary(-4);
        expect(TokenKind::RightBracket, "expected ']'");
        lex.next();
        base = makeNode<LeftSquareBracketExpression>(*this, std::move(base), std::move(index));
        break;
      }
      case TokenKind::Dot:
      case TokenKind::Arrow: {
        lex.next();
        auto member = parseName(false);
        base = makeNode<DotExpression>(*this, std::move(base), std::move(member));
        break;
      }
      case TokenKind::Increment:
      case TokenKind::Decrement: {
        const bool increment = lex.kind() == TokenKind::Increment;
        base = makeIncrement(increment, std::move(base));
        lex.next();
        break;
      }
      case TokenKind::LeftParen: {
        // Each argument is a single unary expression; a comma after one is skipped but not
        // required.
        lex.next();
        std::vector<std::unique_ptr<Expression>> arguments;
        while (lex.kind() != TokenKind::RightParen) {
          arguments.push_back(parseUnary());
          if (lex.kind() == TokenKind::Comma) lex.next();
        }
        base = makeNode<CallExpression>(*this, std::move(base), std::move(arguments));
        lex.next();
        break;
      }
      default:
        return base;
    }
  }
}
