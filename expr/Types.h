#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class Expression;

// Type descriptions built by casts and sizeof. A type owns the types and expressions it is made
// of. Its height (the longest chain of nested types) is bounded, so that destroying or describing
// a type never recurses without limit.
class BaseType {
 public:
  BaseType(const BaseType&) = delete;
  BaseType& operator=(const BaseType&) = delete;
  virtual ~BaseType();

  // A C-like spelling of the type, for debug texts and template argument names.
  virtual std::string describe() const = 0;
  unsigned height() const { return height_; }

 protected:
  // Throws ParserException when the height is over the limit of nested types.
  explicit BaseType(unsigned height);

 private:
  unsigned height_;
};

// A built-in integer type.
class SimpleType : public BaseType {
 public:
  enum class Code { Char = 0, Short = 1, Int = 2, Long = 3, LongLong = 4 };

  SimpleType(Code code, bool isUnsigned) : BaseType(1), code_(code), unsigned_(isUnsigned) {}

  Code code() const { return code_; }
  bool isUnsigned() const { return unsigned_; }
  std::string describe() const override;

 private:
  Code code_;
  bool unsigned_;
};

// A type the environment knows by name ("struct " and a tag included).
class UserType : public BaseType {
 public:
  explicit UserType(std::string name) : BaseType(1), name_(std::move(name)) {}

  const std::string& name() const { return name_; }
  std::string describe() const override { return name_; }

 private:
  std::string name_;
};

// An anonymous struct written out in the expression.
class StructType : public BaseType {
 public:
  struct Field {
    std::string name;  // may be empty
    std::unique_ptr<BaseType> type;
    std::int32_t bitWidth = 0;  // 0 when none was given
  };

  explicit StructType(std::vector<Field> fields);

  const std::vector<Field>& fields() const { return fields_; }
  std::string describe() const override;

 private:
  std::vector<Field> fields_;
};

// A register layout: a size and named bit ranges.
class RegisterType : public BaseType {
 public:
  struct Field {
    std::string name;
    std::int64_t bitOffset = 0;
    std::int64_t bitSize = 0;
  };

  RegisterType(std::int64_t size, std::vector<Field> fields)
      : BaseType(1), size_(size), fields_(std::move(fields)) {}

  std::int64_t size() const { return size_; }
  const std::vector<Field>& fields() const { return fields_; }
  std::string describe() const override;

 private:
  std::int64_t size_;
  std::vector<Field> fields_;
};

class ArrayType : public BaseType {
 public:
  ArrayType(std::unique_ptr<BaseType> element, std::unique_ptr<Expression> size);
  ~ArrayType() override;

  const BaseType& element() const { return *element_; }
  const Expression& sizeExpression() const { return *size_; }
  std::string describe() const override;

 private:
  std::unique_ptr<BaseType> element_;
  std::unique_ptr<Expression> size_;
};

class PointerType : public BaseType {
 public:
  explicit PointerType(std::unique_ptr<BaseType> target)
      : BaseType(target->height() + 1), target_(std::move(target)) {}

  const BaseType& target() const { return *target_; }
  std::string describe() const override { return target_->describe() + "*"; }

 private:
  std::unique_ptr<BaseType> target_;
};
