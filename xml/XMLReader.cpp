// The lenient XML reader: the parser's members (XMLParser.h), and the document's parses that run
// it.

#include "XMLParser.h"
#include "XMLReferences.h"

namespace {

// A reference is never shorter than the bytes it stands for, so `out` may be where the token
// stands: the decoded bytes overwrite only bytes already read.
template <bool kRecord, bool kKeepText, bool kStream>
std::string_view Parser<kRecord, kKeepText, kStream>::decodeInto(std::string_view token, char* out,
                                                                 std::size_t first) {
  if (out != token.data()) std::memmove(out, token.data(), first);
  std::size_t n = first;
  for (std::size_t i = first; i < token.size(); ++i) {
    char c = token[i];
    if (c != '&') {
      out[n++] = c;
      continue;
    }
    const DecodedReference reference = decodeReference(token, i, out + n, doc_.utf8References);
    if (reference.size == 0) {
      out[n++] = c;
      continue;
    }
    const char byte = out[n];
    if (reference.wide || byte == '\0') referenceRepaired(byte, reference.wide);
    if (byte == '\0') break;  // a reference to byte 0 ends the string
    n += reference.size;
  }
  return {out, n};
}

// Attribute values are decoded where they stand, unless the decoding could change the line ends
// in the text: the lines of a location are counted in it afterwards (XMLDocument::lineOf), so a
// value with a line break, or with a numeric reference that may stand for one, is decoded into
// the arena instead. (In place, "&amp;" then a line feed would leave the line feed twice: shifted
// left, and still in the bytes after the decoded value.)
template <bool kRecord, bool kKeepText, bool kStream>
std::string_view Parser<kRecord, kKeepText, kStream>::decodeValue(std::string_view token,
                                                                  std::size_t first) {
  // One pass over the bytes from the first reference on: a line break, or "&#".
  bool mayChangeLines = false;
  for (std::size_t k = first; k < token.size() && !mayChangeLines; ++k) {
    const char c = token[k];
    mayChangeLines =
        c == '\n' || c == '\r' || (c == '&' && k + 1 < token.size() && token[k + 1] == '#');
  }
  // While a sink takes children the text must stay as read: it may be read again.
  if (mayChangeLines || kStream) {
    char* out = static_cast<char*>(doc_.arena().allocate(token.size(), 1));
    return decodeInto(token, out, first);
  }
  return decodeInto(token, begin_ + (token.data() - begin_), first);
}

template <bool kRecord, bool kKeepText, bool kStream>
XMLElement* Parser<kRecord, kKeepText, kStream>::parse() {
  skipSpace();
  if (atEnd() || cur() != '<') {
    if (window_ && !window_->atEnd()) dropSink();  // a window of blanks: read it whole
    return nullptr;
  }
  while (true) {
    if (!readMarkup()) {
      // A declaration ended the parse, and the text has no root: nor does what a sink took.
      if (sinkRoot_) dropSink();
      return nullptr;
    }
    if (!kStream || !window_ || !readOn()) return root_;
  }
}

template <bool kRecord, bool kKeepText, bool kStream>
bool Parser<kRecord, kKeepText, kStream>::readOn() {
  if (sinkDropped_ || window_->atEnd()) return false;
  if (!resumeAt_) {
    dropSink();  // the window ended before the first top-level element's start tag did
    return false;
  }
  // Back to the last point between children, with what was read of the next one forgotten.
  open_.clear();
  if (resumeElement_) open_.push_back({resumeElement_, nullptr});
  root_ = resumeRoot_;
  error_ = ReadError::None;
  finished_ = false;
  doc_.arena().rewind(childrenStart_);
  while (true) {
    if (!window_->refill(resumeAt_)) {
      dropSink();
      return false;
    }
    begin_ = window_->begin();
    end_ = window_->end();
    resumeAt_ = begin_;
    // What stands before the next "<" is text between children: dropped.
    const void* next = std::memchr(begin_, '<', static_cast<std::size_t>(end_ - begin_));
    p_ = begin_;
    droppedText(next ? static_cast<const char*>(next) : end_);
    if (sinkDropped_) return false;
    if (next) {
      p_ = static_cast<const char*>(next);
      return true;
    }
    p_ = end_;
    if (window_->atEnd()) return false;
    resumeAt_ = end_;
  }
}

template <bool kRecord, bool kKeepText, bool kStream>
bool Parser<kRecord, kKeepText, kStream>::readMarkup() {
  while (!finished_ && error_ == ReadError::None) {
    // The cursor is on "<". In a window, a point between two children (or after the first
    // top-level element) is where the parse can go back to, and so is the end of a child the
    // sink took (below).
    if (kStream && window_ && ((open_.size() == 1 && !root_) || (open_.empty() && root_))) {
      resumeAt_ = p_;
      resumeElement_ = open_.empty() ? nullptr : open_.front().element;
      resumeRoot_ = root_;
    }
    advance();
    switch (cur()) {
      case '?':
        if (!declaration()) return false;
        break;
      case '!':
        markupBang();
        break;
      case '/':
        endTag();
        break;
      default:
        startTag();
        break;
    }
    if (kStream && taken_) {
      // Past a child the sink took: going back any further would take it again.
      taken_ = false;
      if (window_) {
        resumeAt_ = p_;
        resumeElement_ = open_.front().element;
        resumeRoot_ = nullptr;
      }
    }
    if (finished_ || error_ != ReadError::None) break;
    // Text up to the next "<" is dropped, or kept.
    const char* next = findByteNear(p_, end_, '<');
    if (next == end_) break;
    if constexpr (kKeepText) {
      keepText(next);
    } else {
      droppedText(next);
    }
    p_ = next;
  }
  return true;
}

template <bool kRecord, bool kKeepText, bool kStream>
bool Parser<kRecord, kKeepText, kStream>::declaration() {
  advance();
  std::string_view target = scanName();
  if (!isPrefixOf(target, "xml")) return true;  // not recognised: the rest is read as text
  std::string_view name = scanName();
  while (!atEnd() && cur() != '?') {
    skipSpace();
    if (cur() != '=') {
      // A byte that can start neither a name nor "=" ends the declaration.
      if (!isNameChar(cur())) return true;
      name = scanName();
      continue;
    }
    advance();
    skipSpace();
    if (cur() != '"' && cur() != '\'') {
      finished_ = true;
      return false;
    }
    std::string_view value = scanQuoted();
    skipSpace();
    if ((name == "version" || name == "encoding") && headerChangesAfterSink()) return false;
    if (name == "version") {
      doc_.version = doc_.duplicateString(value);
    } else if (name == "encoding") {
      doc_.encoding = doc_.duplicateString(value);
    }
    name = scanName();
  }
  if (cur() == '?') {
    advance();
    if (cur() == '>') advance();
  }
  return true;
}

template <bool kRecord, bool kKeepText, bool kStream>
const char* Parser<kRecord, kKeepText, kStream>::skipToClosingPair(char first) {
  while (true) {
    const char* at = static_cast<const char*>(std::memchr(p_, first, end_ - p_));
    if (!at) {
      p_ = end_;
      finished_ = true;
      return nullptr;
    }
    p_ = at;
    advance();
    if (cur() == first) {
      advance();
      if (cur() == '>') {
        advance();
        return at;
      }
    }
  }
}

// After "<!": a comment, a CDATA section, a DOCTYPE, or something read as text.
template <bool kRecord, bool kKeepText, bool kStream>
void Parser<kRecord, kKeepText, kStream>::markupBang() {
  const char* start = p_ - 1;  // the "<"
  advance();
  if (cur() == '-') {
    advance();
    if (cur() != '-') return;
    // A comment is dropped; an unterminated one ends the parse.
    advance();
    if (!skipToClosingPair('-')) unterminated(start, "comment");
    return;
  }
  std::string_view word = scanName();
  if (word.empty()) {
    cdataSection(start);
  } else if (isPrefixOf(word, "DOCTYPE")) {
    doctype();
  }
}

// "<![CDATA[" up to "]]>": kept as a node of the open element, whatever the opener's word.
template <bool kRecord, bool kKeepText, bool kStream>
void Parser<kRecord, kKeepText, kStream>::cdataSection(const char* start) {
  advance();
  scanName();
  advance();
  const char* content = p_;
  const char* contentEnd = skipToClosingPair(']');
  if (!contentEnd) unterminated(start, "CDATA section");
  if (!contentEnd || open_.empty()) return;
  if constexpr (kKeepText) beforeChild();
  appendToOpen(doc_.make<XMLCDATASection>(std::string_view(content, contentEnd - content)));
}

// A one-word DOCTYPE is recorded; one with more after its name is read as text.
template <bool kRecord, bool kKeepText, bool kStream>
void Parser<kRecord, kKeepText, kStream>::doctype() {
  std::string_view name = scanName();
  if (cur() == '>') {
    if (headerChangesAfterSink()) return;
    // A window's bytes are used again: the name is kept in the arena.
    doc_.doctype = kStream && window_ ? doc_.duplicateString(name) : name;
    advance();
  }
}

template <bool kRecord, bool kKeepText, bool kStream>
void Parser<kRecord, kKeepText, kStream>::startTag() {
  if constexpr (kKeepText) beforeChild();
  // The name is a view right after the "<": it tells the element's position for messages.
  // The first top-level element read through a window outlives the window's bytes: its name and
  // values are kept in the arena.
  const bool keepsBytes = kStream && window_ && open_.empty() && !root_;
  const std::string_view elementName = scanName();
  XMLElement* element =
      doc_.createElement(keepsBytes ? doc_.duplicateString(elementName) : elementName);
  open_.push_back({element, nullptr});
  scratch_.clear();
  scratchIndex_.clear();
  namesSeen_ = 0;
  while (true) {
    if (atEnd() || cur() == '/' || cur() == '>') break;
    if (!startsAttributeName(cur())) {
      error_ = ReadError::BadTagName;
      return;
    }
    std::string_view name = scanName();
    if (cur() != '=') continue;
    advance();
    skipSpace();
    if (atEnd()) break;
    if (cur() != '"' && cur() != '\'') {
      repaired(XMLDocument::Repair::Kind::UnquotedAttribute, name.data(), name);
      continue;
    }
    std::string_view value = scanValue();
    skipSpace();
    addAttribute(name, value);
  }
  if (!scratch_.empty()) {
    auto count = static_cast<std::uint32_t>(scratch_.size());
    XMLAttribute* records = doc_.arena().allocateArray<XMLAttribute>(count);
    std::copy(scratch_.begin(), scratch_.end(), records);
    if (keepsBytes) {
      for (std::uint32_t i = 0; i < count; ++i) {
        records[i] = XMLAttribute(
            doc_.duplicateString(records[i].name()),
            records[i].isNull() ? std::string_view() : doc_.duplicateString(records[i].value()));
      }
    }
    element->adoptAttributes(records, count);
  }
  if (kStream && !root_) {
    // A start tag that the window's end cut is read again whole with the next window.
    if (cutByWindow()) {
      finished_ = true;
      return;
    }
    if (!sink_->admits(*element)) return dropSink();
    if (open_.size() == 1) childrenStart_ = doc_.arena().mark();
  }
  if (cur() == '>') {
    advance();
  } else if (cur() == '/') {
    endTag();
  } else {
    finished_ = true;
  }
}

template <bool kRecord, bool kKeepText, bool kStream>
void Parser<kRecord, kKeepText, kStream>::closeInnermost() {
  if (open_.empty()) return;
  if constexpr (kKeepText) finishText();
  XMLElement* element = open_.back().element;
  open_.pop_back();
  if (!open_.empty()) {
    appendToOpen(element);
    return;
  }
  if (root_ && record_) {
    record({XMLDocument::Repair::Kind::SeveralRoots, root_->name().data() - 1, root_->name(),
            element->name()});
  }
  root_ = element;
}

template <bool kRecord, bool kKeepText, bool kStream>
void Parser<kRecord, kKeepText, kStream>::endTag() {
  advance();
  if (cur() == '>') {
    closeInnermost();
    advance();
    return;
  }
  std::string_view name = scanName();
  if (open_.empty()) {
    if (cur() == '>') advance();
    return;
  }
  std::string_view openName = open_.back().element->name();
  if (openName.substr(0, name.size()) != name) {
    error_ = ReadError::TagNameMismatch;
    mismatchedEnd_ = name;
    return;
  }
  if (name.size() != openName.size()) {
    repaired(XMLDocument::Repair::Kind::OtherElementClosed, name.data(), name);
  }
  if (cur() == '>') {
    closeInnermost();
    advance();
  }
}

}  // namespace

std::optional<XMLDocument::SyntaxError> XMLDocument::loadBuffer(char* text, std::size_t size,
                                                                const std::string& fileName,
                                                                ChildSink* sink) {
  char none = '\0';
  if (!text) text = &none;  // an empty input has no buffer
  // A NUL byte ends the text wherever it stands.
  const char* nul = static_cast<const char*>(std::memchr(text, '\0', size));
  if (nul) size = static_cast<std::size_t>(nul - text);
  if (size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
    text += 3;
    size -= 3;
  }
  addText(size > 0 ? text : nullptr, size, fileName);
  repairs.clear();
  if (recordRepairs) textRepairs(text, size, nul);
  if (!readerScratch_) readerScratch_ = std::make_unique<ReaderScratch>();
  if (keepText) {
    return recordRepairs ? parseText<true, true>(text, size, nullptr)
                         : parseText<false, true>(text, size, nullptr);
  }
  return recordRepairs ? parseText<true, false>(text, size, sink)
                       : parseText<false, false>(text, size, sink);
}

std::optional<bool> XMLDocument::loadThroughWindows(const std::string& fileName, ChildSink& sink) {
  InputWindow window;
  if (!window.open(fileName, kWindowedFrom)) return std::nullopt;
  if (!readerScratch_) readerScratch_ = std::make_unique<ReaderScratch>();
  const Arena::Mark start = arena_.mark();
  const std::optional<std::string_view> header[] = {version, encoding, doctype};
  if (recordRepairs ? parseWindows<true>(window, sink) : parseWindows<false>(window, sink)) {
    return true;
  }
  sink.drop();
  arena_.rewind(start);
  repairs.clear();
  version = header[0];
  encoding = header[1];
  doctype = header[2];
  return false;
}

template <bool kRecord>
bool XMLDocument::parseWindows(InputWindow& window, ChildSink& sink) {
  char* text = window.begin();
  if (window.end() - text >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) text += 3;
  Parser<kRecord, false, true> parser(*this, text, static_cast<std::size_t>(window.end() - text),
                                      readerScratch_->open, readerScratch_->attributes, &sink);
  parser.readThrough(window);
  XMLElement* parsed = parser.parse();
  // The document keeps no view into the window: it stands only for a root whose children were
  // taken, with nothing left open and, when repairs are recorded, none met (a NUL byte ends the
  // text as one).
  if (!parsed || !parser.tookChildren() || !parser.sinkStands() || parser.unclosed()) return false;
  if (kRecord && window.endedAtNul() && records(Repair::Kind::NulByte)) return false;
  root = parsed;
  unclosed.reset();
  return true;
}

template <bool kRecord, bool kKeepText>
std::optional<XMLDocument::SyntaxError> XMLDocument::parseText(char* text, std::size_t size,
                                                               ChildSink* sink) {
  // The parse's result: its root, the element left open, and where and why it stopped.
  auto result = [&](auto& parser, XMLElement* parsed) -> std::optional<SyntaxError> {
    root = parsed;
    unclosed = parser.unclosed();
    if (parser.error() == ReadError::None) return std::nullopt;
    if (parser.error() == ReadError::BadTagName) {
      return SyntaxError{
          "bad tagName", text, text + size, parser.cursor(), parser.lineAt(parser.cursor()),
          nullptr,       {}};
    }
    return SyntaxError{"tagName mismatch",
                       text,
                       text + size,
                       parser.cursor(),
                       parser.lineAt(parser.cursor()),
                       parser.innermostOpen(),
                       parser.mismatchedEnd()};
  };
  if constexpr (!kKeepText) {
    if (sink) {
      const Arena::Mark start = arena_.mark();
      const std::size_t repairsBefore = repairs.size();
      Parser<kRecord, false, true> parser(*this, text, size, readerScratch_->open,
                                          readerScratch_->attributes, sink);
      XMLElement* parsed = parser.parse();
      if (parser.sinkStands()) return result(parser, parsed);
      // The text is as it was read (nothing was decoded in place): read it again, keeping all.
      // The declaration and DOCTYPE it set were met before the sink's part began, and are met
      // again, and so are the repairs.
      sink->drop();
      arena_.rewind(start);
      repairs.resize(repairsBefore);
    }
  }
  Parser<kRecord, kKeepText, false> parser(*this, text, size, readerScratch_->open,
                                           readerScratch_->attributes, nullptr);
  return result(parser, parser.parse());
}

XMLDocument::XMLDocument() = default;
XMLDocument::~XMLDocument() = default;
