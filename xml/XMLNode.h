#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The kinds of node the tree holds: the reader drops comments, keeps CDATA sections wherever they
// stand, and drops text unless asked to keep it (XMLDocument::keepText); kept text is the content
// of an element that has no other children (see XMLText).
enum class XMLNodeKind : std::uint8_t { Element, CDATASection, Text };

// A node of the tree. Children form a singly linked chain through `next`; there is no parent,
// last-child or previous-sibling pointer (whoever walks the tree knows where it is). Nodes live in
// the document's arena, so linking and unlinking never frees anything and a detached node stays
// valid for the life of the document.
class XMLNode {
 public:
  XMLNode* next = nullptr;
  XMLNode* firstChild = nullptr;

  bool isElement() const { return kind() == XMLNodeKind::Element; }
  bool isText() const { return kind() == XMLNodeKind::Text; }

 protected:
  explicit XMLNode(XMLNodeKind kind) : kindAndMarks_(static_cast<std::uint32_t>(kind)) {}

  // The marks a kind of node keeps (XMLElement::valuesFinal), above the kind's byte.
  static constexpr std::uint32_t kValuesFinal = 1u << 8;
  bool marked(std::uint32_t mark) const { return (kindAndMarks_ & mark) != 0; }
  void mark(std::uint32_t mark) { kindAndMarks_ |= mark; }

 private:
  XMLNodeKind kind() const { return static_cast<XMLNodeKind>(kindAndMarks_ & 0xFF); }
  // The kind in the low byte and the marks above it, in one word that one store sets.
  std::uint32_t kindAndMarks_;
};

// Lengths of names, values and texts: a document holds millions of them, so they are stored in 32
// bits; a longer string is refused like an allocation that cannot be made.
[[noreturn]] void refuseLength();
inline std::uint32_t storedLength(std::size_t length) {
  if (length > 0xFFFFFFFFu) refuseLength();
  return static_cast<std::uint32_t>(length);
}

// An attribute: a name and a value that may be null (written as an empty value). A null value is
// one without data; every other value, empty ones included, points at its bytes. Packed into 24
// bytes on a 64-bit machine: two pointers and two lengths.
class XMLAttribute {
 public:
  XMLAttribute() = default;
  // A value without data (a default-constructed view) makes a null value.
  XMLAttribute(std::string_view name, std::string_view value)
      : name_(name.data()),
        value_(value.data()),
        nameLength_(storedLength(name.size())),
        valueLength_(storedLength(value.size())) {}

  std::string_view name() const { return {name_, nameLength_}; }
  std::string_view value() const { return {value_, valueLength_}; }
  bool isNull() const { return value_ == nullptr; }
  void setValue(std::string_view value) {
    value_ = value.data() ? value.data() : "";
    valueLength_ = storedLength(value.size());
  }

 private:
  const char* name_ = nullptr;
  const char* value_ = nullptr;
  std::uint32_t nameLength_ = 0;
  std::uint32_t valueLength_ = 0;
};

// A document holds millions of attributes: they stay packed.
static_assert(sizeof(XMLAttribute) == 2 * sizeof(void*) + 8);

class XMLElement : public XMLNode {
 public:
  explicit XMLElement(std::string_view name)
      : XMLNode(XMLNodeKind::Element), name_(name.data()), nameLength_(storedLength(name.size())) {}

  std::string_view name() const { return {name_, nameLength_}; }

  bool hasAttribute(std::string_view name) const { return find(name) != nullptr; }
  // The value of the first attribute of that name; nothing when absent or when the value is null.
  std::optional<std::string_view> attribute(std::string_view name) const {
    const XMLAttribute* record = find(name);
    if (!record || record->isNull()) return std::nullopt;
    return record->value();
  }
  // Inline: a directive looks up names it knows, which then compare as constants.
  const XMLAttribute* find(std::string_view name) const {
    for (std::uint32_t i = 0; i < count_; ++i) {
      if (attributes_[i].name() == name) return &attributes_[i];
    }
    return nullptr;
  }

  std::uint32_t attributeCount() const { return count_; }
  XMLAttribute* attributes() { return attributes_; }
  const XMLAttribute* attributes() const { return attributes_; }
  // Replaces the whole attribute list with `count` records stored in the arena.
  void adoptAttributes(XMLAttribute* records, std::uint32_t count) {
    attributes_ = records;
    count_ = count;
  }
  // Whether the attribute values are final: no value holds a "$", so expanding macro references
  // cannot change any. An element is made without the mark; whoever made its values so marks it
  // (a loop's copy), for a reader of many copies that would otherwise look through each value
  // again.
  bool valuesFinal() const { return marked(kValuesFinal); }
  void markValuesFinal() { mark(kValuesFinal); }

 private:
  const char* name_;
  XMLAttribute* attributes_ = nullptr;
  std::uint32_t nameLength_;
  std::uint32_t count_ = 0;
};
static_assert(sizeof(XMLElement) <= 48);

class XMLCDATASection : public XMLNode {
 public:
  explicit XMLCDATASection(std::string_view text)
      : XMLNode(XMLNodeKind::CDATASection),
        text_(text.data()),
        length_(storedLength(text.size())) {}

  std::string_view text() const { return {text_, length_}; }

 private:
  const char* text_;
  std::uint32_t length_;
};

// A piece of an element's text, kept on request. The text of an element is the chain of its
// children when the first is text: an element holds either text pieces only (several where
// comments stood between them) or no text at all. Its bytes are decoded (references replaced).
class XMLText : public XMLNode {
 public:
  explicit XMLText(std::string_view text)
      : XMLNode(XMLNodeKind::Text), text_(text.data()), length_(storedLength(text.size())) {}

  std::string_view text() const { return {text_, length_}; }
  void setText(std::string_view text) {
    text_ = text.data();
    length_ = storedLength(text.size());
  }

 private:
  const char* text_;
  std::uint32_t length_;
};

// The text pieces an element holds (its children, when the first is text), or null.
inline XMLText* textOf(const XMLElement* element) {
  XMLNode* first = element->firstChild;
  return first && first->isText() ? static_cast<XMLText*>(first) : nullptr;
}

inline XMLElement* asElement(XMLNode* node) {
  return node && node->isElement() ? static_cast<XMLElement*>(node) : nullptr;
}
