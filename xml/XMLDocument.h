#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xml/Arena.h"
#include "xml/XMLNode.h"

// An XML document: the root element, the declaration fields and the last load or save error.
// The document owns every node and string of its tree through its arena.
class XMLDocument {
 public:
  explicit XMLDocument(bool keepText) : keepText(keepText) {}
  XMLDocument(const XMLDocument&) = delete;
  XMLDocument& operator=(const XMLDocument&) = delete;
  virtual ~XMLDocument() = default;

  std::uint32_t indentWidth = 0;
  std::uint32_t wrapWidth = 0;
  const bool keepText;
  std::optional<std::string_view> doctype;
  std::optional<std::string_view> version;
  std::optional<std::string_view> encoding;
  XMLElement* root = nullptr;
  std::string errorText;
  std::int32_t errorLine = 0;

  Arena& arena() { return arena_; }

  // Node construction; the names and texts must live in the arena or an adopted buffer.
  XMLElement* createElement(std::string_view name) { return make<XMLElement>(name); }
  template <class T>
  T* make(std::string_view text) {
    return new (arena_.allocate(sizeof(T), alignof(T))) T(text);
  }
  // Copies bytes into the arena, NUL-terminated.
  std::string_view duplicateString(std::string_view bytes) { return arena_.copy(bytes); }

  // Deep copy of `source` (attributes in order, children in order); appended to `newParent`
  // when one is given. Works iteratively, so any depth is fine.
  XMLNode* copyNode(const XMLNode* source, XMLNode* newParent);

  // Copies the tree under `source` node by node with `copyOne` (a node to its detached copy, or
  // null to leave the node and its subtree out), linking each copy under the copy of its parent
  // in order. Iterative, and linear in the number of nodes.
  template <class CopyOne>
  static XMLNode* copyTree(const XMLNode* source, CopyOne copyOne) {
    XMLNode* result = copyOne(source);
    struct Pending {
      const XMLNode* source;  // the next child to copy
      XMLNode* copy;          // the copy it goes under
      XMLNode* lastChild;     // that copy's last child so far
    };
    std::vector<Pending> stack;
    if (source->firstChild) stack.push_back({source->firstChild, result, nullptr});
    while (!stack.empty()) {
      Pending& top = stack.back();
      const XMLNode* node = top.source;
      if (!node) {
        stack.pop_back();
        continue;
      }
      top.source = node->next;
      XMLNode* copy = copyOne(node);
      if (!copy) continue;
      copy->parent = top.copy;
      if (top.lastChild) {
        top.lastChild->next = copy;
      } else {
        top.copy->firstChild = copy;
      }
      top.lastChild = copy;
      if (node->firstChild) stack.push_back({node->firstChild, copy, nullptr});
    }
    return result;
  }

  // Reads a whole file ("-": standard input) and parses it (see XMLReader.cpp and InputFile.h).
  // On failure `errorText` and `errorLine` tell why.
  bool load(const std::string& fileName);
  // Parses a text; the document keeps its own copy of the bytes.
  bool loadText(std::string_view text);
  // Parses `size` bytes that live as long as the document (in its arena).
  bool loadBuffer(const char* text, std::size_t size);

  // Serialises the document (see XMLWriter.cpp). `save` writes the file atomically (see
  // OutputFile.h); "-" writes standard output.
  bool save(const std::string& fileName, std::uint32_t indent, std::uint32_t wrap);
  void write(std::string& out, std::uint32_t indent, std::uint32_t wrap);

 private:
  Arena arena_;
};

// The preprocessor's document classes.
class QXMLDocument : public XMLDocument {
 public:
  using XMLDocument::XMLDocument;
};
