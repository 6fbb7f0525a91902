#pragma once

#include <cstdint>
#include <string_view>

class Arena;

// The kinds of node in the tree, in the order in which the writer and the deep copy test them.
enum class XMLNodeKind : std::uint8_t { Element, Data, Comment, CDATASection };

// A node of the tree. Children form a singly linked chain through `next`; there is no last-child
// and no previous-sibling pointer. Nodes live in the document's arena, so linking and unlinking
// never frees anything and a detached node stays valid for the life of the document.
class XMLNode {
 public:
  XMLNode* parent = nullptr;
  XMLNode* next = nullptr;
  XMLNode* firstChild = nullptr;
  std::int32_t line = 0;

  XMLNodeKind kind() const { return kind_; }
  bool isElement() const { return kind_ == XMLNodeKind::Element; }

  // Links a single node (its `next` must be null) at the end of the child chain.
  void appendChild(XMLNode* node);
  // Links the node in front of the first child.
  void prependChild(XMLNode* node);
  // Unlinks the node; its own `parent` and `next` stay as they were.
  void removeChild(XMLNode* node);
  // Puts `newNode` in the place of `oldNode`, which must be a child of this node.
  void replaceChild(XMLNode* oldNode, XMLNode* newNode);
  // Links the chain starting at `chain` after `reference`, or after the last child when
  // `reference` is null or not a child; becomes the child chain when there are no children.
  void insertAfter(XMLNode* reference, XMLNode* chain);

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
  void setName(std::string_view name) { name_ = name; }

  // Sets the value of an existing attribute of that name in place, or appends a new one. The
  // strings must already live in the arena (or another buffer the document keeps).
  void setAttribute(Arena& arena, std::string_view name, std::string_view value, bool isNull);
  void removeAttribute(std::string_view name);
  bool hasAttribute(std::string_view name) const { return find(name) != nullptr; }
  // The value of the first attribute of that name; null when absent or when the value is null.
  const std::string_view* attribute(std::string_view name) const;
  XMLAttribute* find(std::string_view name);
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

// Character data: text, comment or CDATA section, told apart by the kind.
class XMLCharacterData : public XMLNode {
 public:
  std::string_view text() const { return text_; }
  void setText(std::string_view text) { text_ = text; }

 protected:
  XMLCharacterData(XMLNodeKind kind, std::string_view text) : XMLNode(kind), text_(text) {}

 private:
  std::string_view text_;
};

class XMLData : public XMLCharacterData {
 public:
  explicit XMLData(std::string_view text) : XMLCharacterData(XMLNodeKind::Data, text) {}
};

class XMLComment : public XMLCharacterData {
 public:
  explicit XMLComment(std::string_view text) : XMLCharacterData(XMLNodeKind::Comment, text) {}
};

class XMLCDATASection : public XMLCharacterData {
 public:
  explicit XMLCDATASection(std::string_view text)
      : XMLCharacterData(XMLNodeKind::CDATASection, text) {}
};

inline XMLElement* asElement(XMLNode* node) {
  return node && node->isElement() ? static_cast<XMLElement*>(node) : nullptr;
}
