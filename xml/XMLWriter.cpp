// Serialises a document in the fixed layout: declaration, DOCTYPE, then every element on a line of
// its own, indented by two spaces per level (an element's kept text on the same line, between its
// tags). Works iteratively, so nesting depth is not limited by
// the stack.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "files/ByteSink.h"
#include "files/OutputFile.h"
#include "xml/XMLDocument.h"

namespace {

// Bytes written as they are: printable ASCII except the four that are escaped.
struct PlainTable {
  bool plain[256] = {};
  constexpr PlainTable() {
    for (int c = 0x20; c <= 0x7E; ++c)
      plain[c] = c != '"' && c != '&' && c != '<' && c != '>';
  }
};
constexpr PlainTable kPlain;

// The length of the UTF-8 sequence that starts `bytes`, if it is well formed and encodes a
// character that XML allows; 0 otherwise. Well formed means the shortest form of a code point up
// to U+10FFFF that is not a surrogate (lead bytes C2-F4, with the second byte narrowed after E0,
// ED, F0 and F4); U+FFFE and U+FFFF are no XML characters.
std::size_t utf8SequenceLength(std::string_view bytes) {
  auto byte = [&](std::size_t i) -> unsigned {
    return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
  };
  auto inRange = [&](std::size_t i, unsigned low, unsigned high) {
    return byte(i) >= low && byte(i) <= high;
  };
  const unsigned lead = byte(0);
  if (lead >= 0xC2 && lead <= 0xDF) return inRange(1, 0x80, 0xBF) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (!inRange(1, lead == 0xE0 ? 0xA0 : 0x80, lead == 0xED ? 0x9F : 0xBF) ||
        !inRange(2, 0x80, 0xBF)) {
      return 0;
    }
    const bool nonCharacter = lead == 0xEF && byte(1) == 0xBF && byte(2) >= 0xBE;
    return nonCharacter ? 0 : 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    return inRange(1, lead == 0xF0 ? 0x90 : 0x80, lead == 0xF4 ? 0x8F : 0xBF) &&
                   inRange(2, 0x80, 0xBF) && inRange(3, 0x80, 0xBF)
               ? 4
               : 0;
  }
  return 0;
}

// Inlined where it is called, as the writer's inner loop.
[[gnu::always_inline]] inline void writeEscaped(ByteSink& out, std::string_view text, bool utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (kPlain.plain[c]) continue;
    if (utf8 && c >= 0x80) {
      // A valid sequence stays in the run of bytes written as they are.
      if (std::size_t length = utf8SequenceLength(text.substr(i))) {
        i += length - 1;
        continue;
      }
    }
    if (i > runStart) out.append(text.substr(runStart, i - runStart));
    runStart = i + 1;
    switch (c) {
      case '"':
        out.append("&quot;");
        break;
      case '&':
        out.append("&amp;");
        break;
      case '<':
        out.append("&lt;");
        break;
      case '>':
        out.append("&gt;");
        break;
      default: {
        char ref[7] = {'&', '#', 'x'};
        std::size_t n = 3;
        if (c >= 16) ref[n++] = kHex[c >> 4];
        ref[n++] = kHex[c & 15];
        ref[n++] = ';';
        out.append(std::string_view(ref, n));
        break;
      }
    }
  }
  if (runStart < text.size()) out.append(text.substr(runStart));
}

class Writer {
 public:
  Writer(ByteSink& out, WriteOptions options) : out_(out), options_(options) {}

  void writeTree(XMLNode* root) {
    writeNode(root, 0);
    while (!stack_.empty()) {
      Open& top = stack_.back();
      if (top.nextChild) {
        XMLNode* child = top.nextChild;
        top.nextChild = child->next;
        writeNode(child, top.level + 1);
        continue;
      }
      out_.spaces(std::size_t{top.level} * kIndent);
      out_.append("</");
      out_.append(top.element->name());
      out_.append(">\n");
      stack_.pop_back();
    }
  }

 private:
  // Spaces per nesting level.
  static constexpr std::size_t kIndent = 2;

  struct Open {
    XMLElement* element;
    XMLNode* nextChild;
    std::uint32_t level;
  };

  void writeNode(XMLNode* node, std::uint32_t level) {
    out_.spaces(std::size_t{level} * kIndent);
    if (!node) return;
    if (node->isElement()) return writeElement(static_cast<XMLElement*>(node), level);
    // A CDATA section runs on into whatever is written next, without a line break.
    out_.append("<![CDATA[");
    out_.append(static_cast<XMLCDATASection*>(node)->text());
    out_.append("]]>");
  }

  void writeElement(XMLElement* element, std::uint32_t level) {
    out_.append('<');
    out_.append(element->name());
    for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
      const XMLAttribute& a = element->attributes()[i];
      out_.append(' ');
      out_.append(a.name());
      out_.append("=\"");
      writeEscaped(out_, a.value(), options_.utf8);
      out_.append('"');
    }
    XMLNode* first = element->firstChild;
    if (!first) {
      // An element with attributes has a blank before "/>", one without has none.
      out_.append(element->attributeCount() ? " />\n" : "/>\n");
      return;
    }
    if (first->isText()) {
      // Text stays on the element's line, each line break in it written as a reference.
      out_.append('>');
      for (XMLNode* piece = first; piece; piece = piece->next)
        writeEscaped(out_, static_cast<XMLText*>(piece)->text(), options_.utf8);
      out_.append("</");
      out_.append(element->name());
      out_.append(">\n");
      return;
    }
    out_.append(">\n");
    stack_.push_back({element, first, level});
  }

  ByteSink& out_;
  WriteOptions options_;
  std::vector<Open> stack_;
};

void writeDocument(XMLDocument& doc, ByteSink& out, WriteOptions options) {
  if (doc.version || doc.encoding) {
    out.append("<?xml ");
    if (doc.version) {
      out.append(" version=\"");
      out.append(*doc.version);
      out.append('"');
    }
    if (doc.encoding) {
      out.append(" encoding=\"");
      out.append(*doc.encoding);
      out.append('"');
    }
    out.append(" ?>\n");
  }
  if (doc.doctype) {
    out.append("<!DOCTYPE ");
    out.append(*doc.doctype);
    out.append(">\n");
  }
  Writer(out, options).writeTree(doc.root);
}

}  // namespace

void XMLDocument::write(std::string& out, WriteOptions options) {
  ByteSink sink;
  writeDocument(*this, sink, options);
  out.append(sink.contents());
}

Failure XMLDocument::writeFile(OutputFile& file, WriteOptions options) {
  ByteSink sink(file.fd());
  writeDocument(*this, sink, options);
  if (!sink.flush()) return file.writeFailure(sink.systemError());
  return file.finish();
}

Failure XMLDocument::save(const std::string& fileName, WriteOptions options) {
  OutputFile file;
  if (Failure failure =
          fileName == "-" ? file.openDescriptor(STDOUT_FILENO, fileName) : file.open(fileName)) {
    return failure;
  }
  if (Failure failure = writeFile(file, options)) return failure;
  return file.replace();
}
