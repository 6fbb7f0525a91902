// Serialises a document in the fixed layout: declaration, DOCTYPE, then the elements indented by
// `indentWidth` spaces per level. Works iteratively, so nesting depth is not limited by the stack.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "xml/ByteSink.h"
#include "xml/OutputFile.h"
#include "xml/XMLDocument.h"

ByteSink::ByteSink(int fd) : fd_(fd) {
  const std::size_t size = fd_ >= 0 ? kBlock : 4096;
  buffer_ = std::make_unique_for_overwrite<char[]>(size);
  cursor_ = buffer_.get();
  end_ = cursor_ + size;
}

bool ByteSink::writeOut(const char* data, std::size_t size) {
  std::size_t done = 0;
  while (!failed_ && done < size) {
    ssize_t n = ::write(fd_, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  return !failed_;
}

bool ByteSink::flush() {
  if (fd_ < 0) return !failed_;
  writeOut(buffer_.get(), static_cast<std::size_t>(cursor_ - buffer_.get()));
  cursor_ = buffer_.get();
  return !failed_;
}

void ByteSink::makeRoom(std::size_t size) {
  if (fd_ >= 0) {
    flush();
    if (size <= static_cast<std::size_t>(end_ - cursor_)) return;
  }
  const std::size_t used = static_cast<std::size_t>(cursor_ - buffer_.get());
  const std::size_t capacity = static_cast<std::size_t>(end_ - buffer_.get());
  std::size_t grown = capacity * 2;
  if (grown < used + size) grown = used + size;
  auto bigger = std::make_unique_for_overwrite<char[]>(grown);
  if (used) std::memcpy(bigger.get(), buffer_.get(), used);
  buffer_ = std::move(bigger);
  cursor_ = buffer_.get() + used;
  end_ = buffer_.get() + grown;
}

void ByteSink::appendSlow(std::string_view bytes) {
  if (fd_ >= 0 && bytes.size() >= kBlock) {
    // Too large to be worth copying: what is buffered goes first, then the bytes themselves.
    flush();
    writeOut(bytes.data(), bytes.size());
    return;
  }
  makeRoom(bytes.size());
  std::memcpy(cursor_, bytes.data(), bytes.size());
  cursor_ += bytes.size();
}

void ByteSink::spacesSlow(std::size_t count) {
  // A deep level asks for more spaces than a block holds: write them a block at a time.
  while (count > 0) {
    if (cursor_ == end_) makeRoom(1);
    const std::size_t chunk = std::min(count, static_cast<std::size_t>(end_ - cursor_));
    std::memset(cursor_, ' ', chunk);
    cursor_ += chunk;
    count -= chunk;
  }
}

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

void writeEscaped(ByteSink& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (kPlain.plain[c]) continue;
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
  Writer(ByteSink& out, std::uint32_t indent, std::uint32_t wrap)
      : out_(out), indent_(indent), wrap_(wrap) {}

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
      out_.spaces(std::size_t{top.level} * indent_);
      out_.append("</");
      out_.append(top.element->name());
      out_.append('>');
      newline();
      stack_.pop_back();
    }
  }

 private:
  struct Open {
    XMLElement* element;
    XMLNode* nextChild;
    std::uint32_t level;
  };

  void newline() {
    if (indent_) out_.append('\n');
  }

  bool wraps(const XMLElement& element, std::uint32_t level) const {
    if (wrap_ == 0 || element.attributeCount() <= 1) return false;
    std::uint64_t estimate = std::uint64_t{level} * indent_ + element.name().size() + 1;
    for (std::uint32_t i = 0; i < element.attributeCount() && estimate <= wrap_; ++i) {
      const XMLAttribute& a = element.attributes()[i];
      estimate += a.name.size() + a.value.size() + 4;
    }
    return estimate > wrap_;
  }

  void writeNode(XMLNode* node, std::uint32_t level) {
    out_.spaces(std::size_t{level} * indent_);
    if (!node) return;
    switch (node->kind()) {
      case XMLNodeKind::Element:
        writeElement(static_cast<XMLElement*>(node), level);
        break;
      case XMLNodeKind::Data:
        writeEscaped(out_, static_cast<XMLCharacterData*>(node)->text());
        break;
      case XMLNodeKind::Comment:
        out_.append("<!--");
        out_.append(static_cast<XMLCharacterData*>(node)->text());
        out_.append("-->");
        break;
      case XMLNodeKind::CDATASection:
        out_.append("<![CDATA[");
        out_.append(static_cast<XMLCharacterData*>(node)->text());
        out_.append("]]>");
        break;
    }
  }

  void writeElement(XMLElement* element, std::uint32_t level) {
    out_.append('<');
    out_.append(element->name());
    bool wrapping = wraps(*element, level);
    for (std::uint32_t i = 0; i < element->attributeCount(); ++i) {
      const XMLAttribute& a = element->attributes()[i];
      if (a.isNull()) {
        out_.append(' ');
        out_.append(a.name);
        out_.append("=\"\"");
        continue;
      }
      if (wrapping) {
        out_.append('\n');
        out_.spaces(std::size_t{level + 1} * indent_);
      } else {
        out_.append(' ');
      }
      out_.append(a.name);
      out_.append("=\"");
      writeEscaped(out_, a.value);
      out_.append('"');
    }
    XMLNode* first = element->firstChild;
    if (!first) {
      if (element->attributeCount()) out_.append(' ');
      out_.append("/>");
      newline();
      return;
    }
    out_.append('>');
    if (first->kind() == XMLNodeKind::Data) {
      // An element whose first child is text is written as a text element, on one line.
      writeEscaped(out_, static_cast<XMLCharacterData*>(first)->text());
      out_.append("</");
      out_.append(element->name());
      out_.append('>');
      newline();
      return;
    }
    newline();
    stack_.push_back({element, first, level});
  }

  ByteSink& out_;
  std::uint32_t indent_;
  std::uint32_t wrap_;
  std::vector<Open> stack_;
};

void writeDocument(XMLDocument& doc, ByteSink& out, std::uint32_t indent, std::uint32_t wrap) {
  doc.indentWidth = indent;
  doc.wrapWidth = wrap;
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
  Writer(out, indent, wrap).writeTree(doc.root);
}

}  // namespace

void XMLDocument::write(std::string& out, std::uint32_t indent, std::uint32_t wrap) {
  ByteSink sink;
  writeDocument(*this, sink, indent, wrap);
  out.append(sink.contents());
}

bool XMLDocument::save(const std::string& fileName, std::uint32_t indent, std::uint32_t wrap) {
  OutputFile file;
  bool ok = fileName == "-" ? file.openDescriptor(STDOUT_FILENO) : file.open(fileName);
  if (ok) {
    ByteSink sink(file.fd());
    writeDocument(*this, sink, indent, wrap);
    ok = sink.flush() && file.commit();
  }
  if (!ok) errorText = "couldn't write " + fileName;
  return ok;
}
