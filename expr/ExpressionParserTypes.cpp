// The type syntax of the expression parser: the types of casts and sizeof.
#include <utility>

#include "expr/Expression.h"
#include "expr/ExpressionParser.h"
#include "expr/Lexer.h"
#include "expr/Limits.h"
#include "expr/Literals.h"
#include "expr/ParserException.h"
#include "expr/Types.h"

// The cast in "(type) operand", or nothing when the token after the parenthesis does not start a
// type; the caller then reads a parenthesised expression from that same token.
std::unique_ptr<Expression> ExpressionParser::parseCast() {
  auto type = parseCastType();
  if (!type) return nullptr;
  return std::make_unique<CastExpression>(*this, std::move(type), parseUnary());
}

// The type of a cast up to and including its ")".
std::unique_ptr<BaseType> ExpressionParser::parseCastType() {
  Lexer& lex = lexer();
  if (lex.kind() != TokenKind::Identifier) return nullptr;
  std::unique_ptr<BaseType> type;
  if (lex.textIs("struct")) {
    type = parseStructType();
  } else if (lex.textIs("register")) {
    type = parseRegisterType();
  } else {
    type = parseTypeName();
  }
  if (!type) return nullptr;
  type = parseTypeSuffix(std::move(type));
  expect(TokenKind::RightParen, "')' expected");
  lex.next();
  return type;
}

// A sequence of type words: "unsigned", "long", "long long", "int", "short", "char" (the
// last three end the sequence), the ignored "signed", "const" and "volatile", or a name the
// environment knows as a type or template. Returns nothing when no type word was read.
std::unique_ptr<BaseType> ExpressionParser::parseTypeName() {
  Lexer& lex = lexer();
  bool sawLong = false;
  bool sawUnsigned = false;
  bool consumed = false;
  std::unique_ptr<BaseType> type;
  while (lex.kind() == TokenKind::Identifier && !type) {
    const std::string_view word = lex.text();
    if (word == "long") {
      if (sawLong) type = std::make_unique<SimpleType>(SimpleType::Code::LongLong, sawUnsigned);
      sawLong = true;
    } else if (word == "int") {
      type = std::make_unique<SimpleType>(SimpleType::Code::Int, sawUnsigned);
    } else if (word == "short") {
      type = std::make_unique<SimpleType>(SimpleType::Code::Short, sawUnsigned);
    } else if (word == "char") {
      type = std::make_unique<SimpleType>(SimpleType::Code::Char, sawUnsigned);
    } else if (word == "unsigned") {
      sawUnsigned = true;
    } else if (word == "signed" || word == "const" || word == "volatile") {
      // accepted and ignored
    } else if (isTypeName(word)) {
      type = std::make_unique<UserType>(std::string(word));
    } else if (isTemplateName(word)) {
      std::string name(word);
      lex.next();
      if (lex.kind() == TokenKind::Less) name = parseTemplateArguments(std::move(name));
      return std::make_unique<UserType>(std::move(name));
    } else {
      break;
    }
    consumed = true;
    lex.next();
  }
  if (!type && consumed)
    type = std::make_unique<SimpleType>(sawLong ? SimpleType::Code::Long : SimpleType::Code::Int,
                                        sawUnsigned);
  return type;
}

// The argument list after a template name, rebuilt as text: "name<a, b*, c<d > >". A ">>" closes
// the innermost list and the one around it.
std::string ExpressionParser::parseTemplateArguments(std::string name) {
  NestingGuard guard(nesting_);
  Lexer& lex = lexer();
  lex.next();
  name += '<';
  for (bool first = true;; first = false) {
    auto argument = parseTypeName();
    if (!argument) throw ParserException("type expected");
    if (!first) name += ", ";
    name += argument->describe();
    if (templateClosePending_) {
      templateClosePending_ = false;
      return name + " >";
    }
    while (lex.kind() == TokenKind::Star) {
      name += '*';
      lex.next();
    }
    if (lex.kind() == TokenKind::Comma) {
      lex.next();
      continue;
    }
    if (lex.kind() == TokenKind::Greater || lex.kind() == TokenKind::ShiftRight) {
      templateClosePending_ = lex.kind() == TokenKind::ShiftRight;
      lex.next();
      return name + " >";
    }
    throw ParserException("'>' expected");
  }
}

// Pointer and array declarators after a type.
std::unique_ptr<BaseType> ExpressionParser::parseTypeSuffix(std::unique_ptr<BaseType> type) {
  Lexer& lex = lexer();
  while (true) {
    if (lex.kind() == TokenKind::Star) {
      type = std::make_unique<PointerType>(std::move(type));
      lex.next();
    } else if (lex.kind() == TokenKind::LeftBracket) {
      lex.next();
      auto size = parseBinary(-4);
      expect(TokenKind::RightBracket, "']' expected");
      lex.next();
      type = std::make_unique<ArrayType>(std::move(type), std::move(size));
    } else {
      return type;
    }
  }
}

// "struct tag" (a type the environment must know) or "struct { type name : bits; ... }".
std::unique_ptr<BaseType> ExpressionParser::parseStructType() {
  Lexer& lex = lexer();
  lex.next();
  if (lex.kind() == TokenKind::Identifier) {
    std::string name = "struct " + std::string(lex.text());
    if (!isTypeName(name)) throw ParserException("struct type not found");
    lex.next();
    return std::make_unique<UserType>(std::move(name));
  }
  expect(TokenKind::LeftBrace, "'{' expected");
  lex.next();
  std::vector<StructType::Field> fields;
  if (lex.kind() == TokenKind::RightBrace) {
    lex.next();
    return std::make_unique<StructType>(std::move(fields));
  }
  while (true) {
    StructType::Field field;
    field.type = parseTypeName();
    if (!field.type) throw ParserException("struct parse error");
    if (lex.kind() == TokenKind::Identifier) {
      field.name = lex.text();
      lex.next();
    }
    if (lex.kind() == TokenKind::Colon) {
      lex.next();
      expect(TokenKind::DecimalInteger, "integer must follow ':'");
      field.bitWidth = static_cast<std::int32_t>(integerLiteralValue(lex.text()));
      lex.next();
    }
    expect(TokenKind::Semicolon, "';' expected");
    fields.push_back(std::move(field));
    lex.next();
    if (lex.kind() == TokenKind::RightBrace) {
      lex.next();
      return std::make_unique<StructType>(std::move(fields));
    }
  }
}

// "register size;" or "register size name offset bits ... name offset bits;", a field name being
// an identifier or a quoted string.
std::unique_ptr<BaseType> ExpressionParser::parseRegisterType() {
  Lexer& lex = lexer();
  lex.next();
  expect(TokenKind::DecimalInteger, "size expected");
  const std::int64_t size = integerLiteralValue(lex.text());
  lex.next();
  std::vector<RegisterType::Field> fields;
  if (lex.kind() == TokenKind::Semicolon) {
    lex.next();
    return std::make_unique<RegisterType>(size, std::move(fields));
  }
  while (true) {
    RegisterType::Field field;
    if (lex.kind() == TokenKind::Identifier) {
      field.name = lex.text();
    } else if (lex.kind() == TokenKind::String) {
      field.name = lex.text().substr(1, lex.text().size() - 2);
    } else {
      throw ParserException("fieldname expected");
    }
    lex.next();
    expect(TokenKind::DecimalInteger, "bitoffset expected");
    field.bitOffset = integerLiteralValue(lex.text());
    lex.next();
    expect(TokenKind::DecimalInteger, "bitsize expected");
    field.bitSize = integerLiteralValue(lex.text());
    fields.push_back(std::move(field));
    lex.next();
    if (lex.kind() == TokenKind::Semicolon) {
      lex.next();
      return std::make_unique<RegisterType>(size, std::move(fields));
    }
  }
}
