// Serialises a document in the fixed layout: declaration, DOCTYPE, then every element on a line of
// its own, indented by two spaces per level. Works iteratively, so nesting depth is not limited by
// the stack.

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
  explicit Writer(ByteSink& out) : out_(out) {}

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
      writeEscaped(out_, a.value());
      out_.append('"');
    }
    XMLNode* first = element->firstChild;
    if (!first) {
      // An element with attributes has a blank before "/>", one without has none.
      out_.append(element->attributeCount() ? " />\n" : "/>\n");
      return;
    }
    out_.append(">\n");
    stack_.push_back({element, first, level});
  }

  ByteSink& out_;
  std::vector<Open> stack_;
};

void writeDocument(XMLDocument& doc, ByteSink& out) {
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
  Writer(out).writeTree(doc.root);
}

}  // namespace

void XMLDocument::write(std::string& out) {
  ByteSink sink;
  writeDocument(*this, sink);
  out.append(sink.contents());
}

bool XMLDocument::save(const std::string& fileName) {
  OutputFile file;
  bool ok = fileName == "-" ? file.openDescriptor(STDOUT_FILENO) : file.open(fileName);
  if (ok) {
    ByteSink sink(file.fd());
    writeDocument(*this, sink);
    ok = sink.flush() && file.commit();
  }
  if (!ok) errorText = "couldn't write " + fileName;
  return ok;
}
