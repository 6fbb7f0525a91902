#pragma once

#include <cstdint>
#include <string_view>

class Arena;

// The two kinds of node the tree holds: the reader drops text and comments, and keeps CDATA
// sections wherever they stand.
enum class XMLNodeKind : std::uint8_t { Element, CDATASection };

// A node of the tree. Children form a singly linked chain through `next`; there is no last-child
// and no previous-sibling pointer. Nodes live in the document's arena, so linking and unlinking
// never frees anything and a detached node stays valid for the life of the document.
class XMLNode {
 public:
  XMLNode* parent = nullptr;
  XMLNode* next = nullptr;
  XMLNode* firstChild = nullptr;

  XMLNodeKind kind() const { return kind_; }
  bool isElement() const { return kind_ == XMLNodeKind::Element; }

 protected:
  explicit XMLNode(XMLNodeKind kind) : kind_(kind) {}

 private:
  XMLNodeKind kind_;
};

// An attribute: a name and a value that may be null (written as an empty value). A null value
// is one without data; every other value, empty ones included, points at its bytes.
struct XMLAttribute {
  std::string_view name;
  std::string_view value;

  bool isNull() const { return value.data() == nullptr; }
};

class XMLElement : public XMLNode {
 public:
  explicit XMLElement(std::string_view name) : XMLNode(XMLNodeKind::Element), name_(name) {}

  std::string_view name() const { return name_; }

  // Sets the value of an existing attribute of that name in place, or appends a new one. The
  // strings must already live in the arena (or another buffer the document keeps).
  void setAttribute(Arena& arena, std::string_view name, std::string_view value, bool isNull);
  bool hasAttribute(std::string_view name) const { return find(name) != nullptr; }
  // The value of the first attribute of that name; null when absent or when the value is null.
  const std::string_view* attribute(std::string_view name) const;
  const XMLAttribute* find(std::string_view name) const;

  std::uint32_t attributeCount() const { return count_; }
  XMLAttribute* attributes() { return attributes_; }
  const XMLAttribute* attributes() const { return attributes_; }
  // Replaces the whole attribute list with `count` records stored in the arena.
  void adoptAttributes(XMLAttribute* records, std::uint32_t count) {
    attributes_ = records;
    count_ = capacity_ = count;
  }

 private:
  std::string_view name_;
  XMLAttribute* attributes_ = nullptr;
  std::uint32_t count_ = 0;
  std::uint32_t capacity_ = 0;
};

class XMLCDATASection : public XMLNode {
 public:
  explicit XMLCDATASection(std::string_view text)
      : XMLNode(XMLNodeKind::CDATASection), text_(text) {}

  std::string_view text() const { return text_; }

 private:
  std::string_view text_;
};

inline XMLElement* asElement(XMLNode* node) {
  return node && node->isElement() ? static_cast<XMLElement*>(node) : nullptr;
}
