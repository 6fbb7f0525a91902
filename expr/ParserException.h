#pragma once

#include <exception>
#include <string>
#include <utility>

// The one error of the expression language. The tokenizer, the parser and the evaluator throw it
// with a fixed message; the entry points of SimpleExpressionParser turn it into a false ok flag.
class ParserException : public std::exception {
 public:
  explicit ParserException(std::string message) : message_(std::move(message)) {}

  const std::string& message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};
