// Serialises a document in the fixed layout: declaration, DOCTYPE, then every element on a line of
// its own, indented by two spaces per level (an element's kept text on the same line, between its
// tags). Works iteratively, so nesting depth is not limited by
// the stack.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "ByteScan.h"
#include "files/ByteSink.h"
#include "files/OutputFile.h"
#include "xml/XMLDocument.h"

namespace {

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

// Bytes written straight into room the sink has made (ByteSink::room), without a bounds check.
struct RawOutput {
  char* at;
  void append(std::string_view bytes) {
    const std::size_t n = bytes.size();
    const char* from = bytes.data();
    // The names and values of a document are mostly short: two overlapping fixed-size copies,
    // which compile to plain moves, rather than a call.
    if (n >= 8 && n <= 16) {
      std::memcpy(at, from, 8);
      std::memcpy(at + n - 8, from + n - 8, 8);
    } else if (n >= 4 && n < 8) {
      std::memcpy(at, from, 4);
      std::memcpy(at + n - 4, from + n - 4, 4);
    } else if (n < 4) {
      for (std::size_t i = 0; i < n; ++i)
        at[i] = from[i];
    } else {
      std::memcpy(at, from, n);
    }
    at += n;
  }
  void append(char byte) { *at++ = byte; }
};

// The most bytes an attribute value can take once escaped: "&#xff;" for one byte.
constexpr std::size_t kMaxEscapedPerByte = 6;

// Writes the value with the bytes `scans.escape` finds escaped: the four markup bytes by name,
// the others as "&#x..;" references, except that with `utf8` a valid UTF-8 sequence is copied.
// `first` is the first byte to escape; kept out of line, as most values have none.
template <class Output>
[[gnu::noinline]] void writeEscapedFrom(Output& out, std::string_view text, const char* first,
                                        const WriteOptions& options, const ByteScans& scans) {
  static constexpr char kHex[] = "0123456789abcdef";
  const char* const end = text.data() + text.size();
  const char* run = text.data();  // the bytes from here on are copied as they are
  for (const char* p = first; p != end; p = escapeShort(scans, p, end)) {
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 0x80 && (options.utf8 || (options.utf8Escaped && !*options.utf8Escaped))) {
      if (std::size_t length = utf8SequenceLength(std::string_view(p, end - p))) {
        if (!options.utf8) {
          *options.utf8Escaped = true;
        } else {
          p += length;
          continue;
        }
      }
    }
    out.append(std::string_view(run, p - run));
    run = ++p;
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
  out.append(std::string_view(run, end - run));
}

// A value without a byte to escape is copied where it is written.
template <class Output>
[[gnu::always_inline]] inline void writeEscaped(Output& out, std::string_view text,
                                                const WriteOptions& options,
                                                const ByteScans& scans) {
  const char* const end = text.data() + text.size();
  const char* first = escapeShort(scans, text.data(), end);
  if (first == end) return out.append(text);
  writeEscapedFrom(out, text, first, options, scans);
}

class Writer {
 public:
  Writer(ByteSink& out, WriteOptions options) : out_(out), options_(options) {}

  // Writes `root` and its subtree, `root` at nesting level `level`.
  void writeTree(const XMLNode* root, std::uint32_t level = 0) {
    writeNode(root, level);
    while (!stack_.empty()) {
      Open& top = stack_.back();
      if (top.nextChild) {
        const XMLNode* child = top.nextChild;
        top.nextChild = child->next;
        writeNode(child, top.level + 1);
        continue;
      }
      writeEndTag(*top.element, top.level);
      stack_.pop_back();
    }
  }

  // The start tag of an element at level 0 whose children are written after it, one by one.
  void writeStartTag(const XMLElement& element) {
    writeNameAndAttributes(out_, &element);
    out_.append(">\n");
  }
  void writeEndTag(const XMLElement& element, std::uint32_t level) {
    out_.spaces(std::size_t{level} * kIndent);
    out_.append("</");
    out_.append(element.name());
    out_.append(">\n");
  }

 private:
  // Spaces per nesting level.
  static constexpr std::size_t kIndent = 2;

  struct Open {
    const XMLElement* element;
    const XMLNode* nextChild;
    std::uint32_t level;
  };

  void writeNode(const XMLNode* node, std::uint32_t level) {
    out_.spaces(std::size_t{level} * kIndent);
    if (!node) return;
    if (node->isElement()) return writeElement(static_cast<const XMLElement*>(node), level);
    // A CDATA section runs on into whatever is written next, without a line break.
    out_.append("<![CDATA[");
    out_.append(static_cast<const XMLCDATASection*>(node)->text());
    out_.append("]]>");
  }

  void writeElement(const XMLElement* element, std::uint32_t level) {
    // Where the sink has room for the longest form the tag can take, it is written there without
    // a bounds check per piece; a larger tag goes through the sink piece by piece.
    std::size_t longest = element->name().size() + 5;
    for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
      const XMLAttribute& a = element->attributes()[i];
      longest += a.name().size() + 4 + kMaxEscapedPerByte * a.value().size();
    }
    const XMLNode* first = element->firstChild;
    const bool text = first && first->isText();
    if (text) {
      longest += element->name().size() + 3;
      for (const XMLNode* piece = first; piece; piece = piece->next)
        longest += kMaxEscapedPerByte * static_cast<const XMLText*>(piece)->text().size();
    }
    if (char* room = out_.room(longest)) {
      RawOutput raw{room};
      writeTag(raw, element);
      out_.advanceTo(raw.at);
    } else {
      writeTag(out_, element);
    }
    if (first && !text) stack_.push_back({element, first, level});
  }

  // The start tag, or the whole element when it has no children or only kept text.
  template <class Output>
  void writeTag(Output& out, const XMLElement* element) {
    writeNameAndAttributes(out, element);
    if (const XMLNode* first = element->firstChild; first && first->isText()) {
      // Kept text stays on the element's line, each line break in it written as a reference.
      out.append('>');
      for (const XMLNode* piece = first; piece; piece = piece->next)
        writeEscaped(out, static_cast<const XMLText*>(piece)->text(), options_, scans_);
      out.append("</");
      out.append(element->name());
      out.append(">\n");
    } else if (first) {
      out.append(">\n");
    } else {
      // An element with attributes has a blank before "/>", one without has none.
      out.append(element->attributeCount() ? " />\n" : "/>\n");
    }
  }

  // "<", the name and the attributes.
  template <class Output>
  void writeNameAndAttributes(Output& out, const XMLElement* element) {
    out.append('<');
    out.append(element->name());
    for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
      const XMLAttribute& a = element->attributes()[i];
      out.append(' ');
      out.append(a.name());
      out.append("=\"");
      writeEscaped(out, a.value(), options_, scans_);
      out.append('"');
    }
  }

  ByteSink& out_;
  WriteOptions options_;
  const ByteScans& scans_ = bestByteScans();
  std::vector<Open> stack_;
};

// The declaration and the DOCTYPE, as the document has them (`doctype` in place of its own).
void writeHeader(const XMLDocument& doc, const std::optional<std::string_view>& doctype,
                 ByteSink& out) {
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
  if (doctype) {
    out.append("<!DOCTYPE ");
    out.append(*doctype);
    out.append(">\n");
  }
}

void writeDocument(XMLDocument& doc, ByteSink& out, WriteOptions options) {
  writeHeader(doc, doc.doctype, out);
  Writer(out, options).writeTree(doc.root);
}

}  // namespace

struct PieceWriter::State {
  State(const OutputFile& file, WriteOptions options)
      : sink(file.fd(), file.path()), writer(sink, options) {}
  ByteSink sink;
  Writer writer;
};

PieceWriter::PieceWriter(OutputFile& file, WriteOptions options)
    : file_(file), state_(std::make_unique<State>(file, options)) {}

PieceWriter::~PieceWriter() = default;

void PieceWriter::start(const XMLDocument& doc, const std::optional<std::string_view>& doctype,
                        const XMLElement& root) {
  writeHeader(doc, doctype, state_->sink);
  state_->writer.writeStartTag(root);
}

bool PieceWriter::child(const XMLNode& child) {
  state_->writer.writeTree(&child, 1);
  return !state_->sink.failed();
}

Failure PieceWriter::finish(const XMLElement& root) {
  state_->writer.writeEndTag(root, 0);
  if (Failure failure = state_->sink.flush()) return failure;
  return file_.finish();
}

void XMLDocument::write(std::string& out, WriteOptions options) {
  ByteSink sink;
  writeDocument(*this, sink, options);
  out.append(sink.contents());
}

Failure XMLDocument::writeFile(OutputFile& file, WriteOptions options) {
  ByteSink sink(file.fd(), file.path());
  writeDocument(*this, sink, options);
  if (Failure failure = sink.flush()) return failure;
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
