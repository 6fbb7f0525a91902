#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "expr/ExpressionValue.h"

class NodePool;

class BaseType;
class Expression;
class Lexer;
enum class TokenKind : int;

// The parser of the C-like expression language: recursive descent, with the binary operators
// parsed by precedence climbing over the precedences the lexer attaches to tokens. It also
// declares the environment hooks through which a concrete parser gives names, registers, casts and
// memory their meaning; the trees call them while they evaluate. Errors are ParserExceptions.
class ExpressionParser {
 public:
  ExpressionParser(const ExpressionParser&) = delete;
  ExpressionParser& operator=(const ExpressionParser&) = delete;
  virtual ~ExpressionParser();

  // Parses the text into a tree owned by the caller; an empty text gives no tree. The expression
  // ends at the first token that cannot continue it; the rest of the text is not read. When
  // `position` is given it receives how far the lexer read.
  std::unique_ptr<Expression> parseExpression(std::string_view text,
                                              std::size_t* position = nullptr);

  // --- Environment hooks ---
  virtual ExpressionValue lookupScopedName(const std::vector<std::string>& parts) = 0;
  virtual ExpressionValue lookupName(std::string_view name) = 0;
  virtual ExpressionValue lookupRegister(std::string_view name) = 0;
  virtual bool isTypeName(std::string_view name) = 0;
  virtual bool isTemplateName(std::string_view name) = 0;
  virtual ExpressionValue castValue(const BaseType& type, const ExpressionValue& value) = 0;
  // The two tests by which + on a marker chooses pointer arithmetic.
  virtual bool isPointer(const ExpressionValue& marker) = 0;
  virtual bool isArray(const ExpressionValue& marker) = 0;
  virtual ExpressionValue subscript(const ExpressionValue& base, const ExpressionValue& index) = 0;
  // Member access by a plain name, and by a name qualified with "::".
  virtual ExpressionValue member(const ExpressionValue& base, std::string_view name) = 0;
  virtual ExpressionValue scopedMember(const ExpressionValue& base,
                                       const std::vector<std::string>& parts) = 0;
  virtual ExpressionValue addressOf(const ExpressionValue& marker) = 0;
  virtual ExpressionValue sizeOfObject(const ExpressionValue& marker) = 0;
  virtual ExpressionValue sizeOfType(const BaseType& type) = 0;
  virtual ExpressionValue addressOfLine(std::string_view file, std::int32_t line) = 0;
  virtual ExpressionValue assign(const ExpressionValue& target, const ExpressionValue& value) = 0;
  // The value a marker holds, read for the right side of an assignment and for an index.
  virtual ExpressionValue readMarker(const ExpressionValue& marker) = 0;
  virtual ExpressionValue call(const ExpressionValue& callee,
                               const std::vector<ExpressionValue>& arguments) = 0;
  virtual ExpressionValue pointerArithmetic(const ExpressionValue& pointer,
                                            const ExpressionValue& offset) = 0;

 protected:
  // The concrete parser creates the lexer; it is never replaced.
  explicit ExpressionParser(std::unique_ptr<Lexer> lexer);

  Lexer& lexer() { return *lexer_; }

  // While set, new nodes are placed in this pool; the caller must destroy every tree made
  // meanwhile before the pool goes. Used by evaluations that parse, evaluate and drop a tree.
  void usePool(NodePool* pool) { pool_ = pool; }

  template <class T, class... Args>
  std::unique_ptr<T> makeNode(Args&&... args) {
    if (pool_) return std::unique_ptr<T>(new (*pool_) T(std::forward<Args>(args)...));
    return std::make_unique<T>(std::forward<Args>(args)...);
  }

  std::unique_ptr<Expression> parseBinary(int level);
  std::unique_ptr<Expression> parseUnary();
  std::unique_ptr<Expression> parsePostfix(std::unique_ptr<Expression> base);
  std::unique_ptr<Expression> parseName(bool global);
  std::unique_ptr<Expression> parseCast();
  std::unique_ptr<BaseType> parseTypeName();
  std::unique_ptr<BaseType> parseTypeSuffix(std::unique_ptr<BaseType> type);
  std::unique_ptr<BaseType> parseStructType();
  std::unique_ptr<BaseType> parseRegisterType();

 private:
  // Counts the parsing steps active inside one another, each parseUnary and parseBinary, and
  // throws rather than go deeper than kMaxExpressionDepth. Every recursion of the parser passes
  // through one of the two, so this bounds the stack whatever the text.
  class NestingGuard {
   public:
    explicit NestingGuard(unsigned& nesting);
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
    ~NestingGuard() { --nesting_; }

   private:
    unsigned& nesting_;
  };

  std::unique_ptr<Expression> parseOperand();
  std::unique_ptr<Expression> parseLiteral();
  std::unique_ptr<Expression> parseGroup();
  std::unique_ptr<Expression> parsePrefix();
  std::unique_ptr<Expression> makePrefix(TokenKind kind, std::unique_ptr<Expression> operand);
  std::unique_ptr<BaseType> parseCastType();
  std::unique_ptr<Expression> parseSizeof();
  std::unique_ptr<Expression> parseAddressofLine();
  std::unique_ptr<Expression> makeBinary(TokenKind kind, std::unique_ptr<Expression> left,
                                         std::unique_ptr<Expression> right);
  std::unique_ptr<Expression> makeIncrement(bool increment, std::unique_ptr<Expression> operand);
  std::string parseTemplateArguments(std::string name);
  void expect(TokenKind kind, const char* message);

  std::unique_ptr<Lexer> lexer_;
  NodePool* pool_ = nullptr;
  unsigned nesting_ = 0;
  bool templateClosePending_ = false;  // a ">>" closed an inner template argument list
};
