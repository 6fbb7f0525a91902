// The lenient XML reader's parser, for XMLReader.cpp alone (which defines its members and runs
// it): in one translation unit and without linkage, the compiler reads each tag inline in the loop
// over the markup. One forward pass over the bytes of a text builds the tree in the document's
// arena. Names and undecoded values stay as views into the buffer, which the document keeps; only
// decoded values are copied. Comments are dropped, CDATA sections kept, and text is dropped unless
// the document asks to keep it.

#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ByteScan.h"
#include "XMLLines.h"
#include "XMLNames.h"
#include "files/InputFile.h"
#include "xml/XMLDocument.h"

namespace xml_reading {

// An element being read, and its last child so far (the document keeps a list of them from one
// load to the next, ReaderScratch).
struct ElementBeingRead {
  XMLElement* element;
  XMLNode* lastChild;
};

}  // namespace xml_reading

namespace {

using xml_reading::ElementBeingRead;

// Why the reader stopped before the end of a text.
enum class ReadError : std::uint8_t {
  None,
  BadTagName,       // an attribute name that starts with a byte no name starts with
  TagNameMismatch,  // a closing tag whose name is no prefix of the open element's
};

// kRecord: whether the parser records the repairs it makes (XMLDocument::recordRepairs); a
// parser that does not is compiled without the tests. kKeepText: whether it keeps text
// (XMLDocument::keepText).
template <bool kRecord, bool kKeepText, bool kStream>
class Parser {
 public:
  // `scratch` holds no state between parses, only storage.
  Parser(XMLDocument& document, char* text, std::size_t size, std::vector<ElementBeingRead>& open,
         std::vector<XMLAttribute>& attributes, ChildSink* sink)
      : doc_(document),
        begin_(text),
        p_(text),
        end_(text + size),
        open_(open),
        scratch_(attributes),
        sink_(sink) {
    open_.clear();
    scratch_.clear();
  }

  XMLElement* parse();
  // Reads the text through `window` (which holds its start) rather than whole: for a parse with a
  // sink, which then keeps only what the window holds. The parse goes back to the last point
  // between two children of the first top-level element (or after it) when a window ends, and
  // reads on from there with the next.
  void readThrough(InputWindow& window) { window_ = &window; }
  ReadError error() const { return error_; }
  // After a TagNameMismatch: the element the end tag did not close, and the end tag's name.
  const XMLElement* innermostOpen() const { return open_.empty() ? nullptr : open_.back().element; }
  std::string_view mismatchedEnd() const { return mismatchedEnd_; }
  // Whether what the sink took stands: the sink kept taking, and the text ended without an error
  // and with the element whose children it took as the one complete top-level element.
  bool tookChildren() const { return sinkRoot_ != nullptr; }
  bool sinkStands() const {
    return !sinkDropped_ && (!sinkRoot_ || (error_ == ReadError::None && root_ == sinkRoot_));
  }
  std::int32_t lineAt(const char* position) const { return lineOfPosition(begin_, end_, position); }
  // The innermost element still open where the text ended, if any.
  std::optional<XMLDocument::OpenElement> unclosed() const {
    if (open_.empty()) return std::nullopt;
    const XMLElement* element = open_.back().element;
    return XMLDocument::OpenElement{element->name(), doc_.lineOf(element), doc_.columnOf(element)};
  }
  const char* cursor() const { return p_; }

 private:
  bool atEnd() const { return p_ >= end_; }
  unsigned char cur() const { return atEnd() ? 0 : static_cast<unsigned char>(*p_); }
  void advance() {
    if (p_ < end_) ++p_;
  }
  // The scans below move a local cursor and store it once: a store to the member on every byte
  // would stay in the loop, as the bytes read could alias it.
  void skipSpace() {
    const char* p = p_;
    while (p < end_ && isSpace(static_cast<unsigned char>(*p)))
      ++p;
    p_ = p;
  }
  std::string_view scanName() {
    const char* const start = p_;
    const char* p = start;
    while (p < end_ && isNameChar(static_cast<unsigned char>(*p)))
      ++p;
    std::string_view name(start, static_cast<std::size_t>(p - start));
    while (p < end_ && isSpace(static_cast<unsigned char>(*p)))
      ++p;
    p_ = p;
    return name;
  }
  // Reads a quoted value starting at the opening quote; leaves the cursor after the closing one.
  std::string_view scanQuoted() {
    char quote = *p_;
    ++p_;
    const char* start = p_;
    const char* close = static_cast<const char*>(std::memchr(p_, quote, end_ - p_));
    p_ = close ? close : end_;
    std::string_view value(start, p_ - start);
    advance();
    return value;
  }
  // Reads an attribute's quoted value starting at the opening quote, decoding its references;
  // leaves the cursor after the closing quote. One search finds the closing quote or the first
  // reference; only a value with a reference is searched again for its end.
  std::string_view scanValue() {
    const char quote = *p_;
    ++p_;
    const char* start = p_;
    const char* stop = quoteOrAmpersandNear(scans_, p_, end_, quote);
    if (stop != end_ && *stop == '&') {
      const char* close =
          static_cast<const char*>(std::memchr(stop, quote, static_cast<std::size_t>(end_ - stop)));
      p_ = close ? close : end_;
      std::string_view value =
          decodeValue(std::string_view(start, p_ - start), static_cast<std::size_t>(stop - start));
      advance();
      return value;
    }
    p_ = stop;
    advance();
    return std::string_view(start, stop - start);
  }
  // Moves the cursor to the first byte of the pair `first` `first` that is followed by ">" (a
  // longer run of `first` bytes is consumed pairwise), and past the ">"; returns where the pair
  // began. At the end of the text without one, the parse is finished and null returned.
  const char* skipToClosingPair(char first);

  // Decodes the references of `token`, the first at `first`, into `out`, which may be where the
  // token stands. Kept out of line: most values hold no reference.
  [[gnu::noinline]] std::string_view decodeInto(std::string_view token, char* out,
                                                std::size_t first = 0);
  // The value `token` with its references decoded where it stands, the first of them at `first`.
  std::string_view decodeValue(std::string_view token, std::size_t first);
  // The markup from the cursor on, until the text ends; false when a declaration ends the parse.
  bool readMarkup();
  // In a window, after the text it holds: goes back and reads on with the next; false when
  // the text has ended (or the window cannot be read on, which drops the sink).
  bool readOn();
  bool declaration();  // false when the whole parse ends
  void markupBang();
  void cdataSection(const char* start);  // `start`: its "<"
  void doctype();
  void startTag();
  void endTag();
  void closeInnermost();
  // A repeated name keeps its first position and takes the new value.
  void addAttribute(std::string_view name, std::string_view value) {
    constexpr std::size_t kIndexFrom = 16;
    // A name whose bit in the start tag's filter is not set is no repeat: most tags skip the
    // search.
    const std::uint64_t bit = std::uint64_t{1}
                              << ((name.size() * 7 + static_cast<unsigned char>(name.back())) & 63);
    const bool maybeRepeat = (namesSeen_ & bit) != 0;
    namesSeen_ |= bit;
    if (!maybeRepeat && scratch_.size() < kIndexFrom) {
      scratch_.push_back(XMLAttribute{name, value});
      return;
    }
    if (scratch_.size() < kIndexFrom) {
      for (XMLAttribute& a : scratch_) {
        if (a.name() == name) {
          a.setValue(value);
          repaired(XMLDocument::Repair::Kind::DuplicateAttribute, name.data(), name);
          return;
        }
      }
    } else {
      if (scratchIndex_.empty()) {
        for (std::size_t k = 0; k < scratch_.size(); ++k)
          scratchIndex_.emplace(scratch_[k].name(), k);
      }
      auto [it, added] = scratchIndex_.emplace(name, scratch_.size());
      if (!added) {
        scratch_[it->second].setValue(value);
        repaired(XMLDocument::Repair::Kind::DuplicateAttribute, name.data(), name);
        return;
      }
    }
    scratch_.push_back(XMLAttribute{name, value});
  }
  // Records a repair in the innermost open element, when the document asks for repairs.
  [[gnu::noinline]] void repaired(XMLDocument::Repair::Kind kind, const char* at,
                                  std::string_view name) {
    if (!record_ || open_.empty()) return;
    record({kind, at, open_.back().element->name(), name});
  }
  // Records a repair. While a sink takes children, the parse ends there: the text is read again
  // whole, so that every repair is located in it.
  void record(const XMLDocument::Repair& repair) {
    if (!doc_.records(repair.kind)) return;
    if constexpr (kStream) {
      if (cutByWindow()) return;  // what the window's end cut off is read again whole
    }
    doc_.repairs.push_back(repair);
    if constexpr (kStream) dropSink();
  }
  // Whether the parse has reached the end of a window that the text goes on after.
  bool cutByWindow() const { return window_ && !window_->atEnd() && atEnd(); }
  // Records a character reference reduced to the byte `byte`, or one whose byte 0 ends the value.
  void referenceRepaired(char byte, bool wide) {
    if (!record_ || open_.empty()) return;
    const XMLElement* element = open_.back().element;
    record({byte == '\0' ? XMLDocument::Repair::Kind::ReferenceEndsValue
                         : XMLDocument::Repair::Kind::ReferenceReduced,
            element->name().data() - 1,
            element->name(),
            {},
            static_cast<unsigned char>(byte),
            wide});
  }
  // Records a comment or CDATA section opened at `at` that the text never closes.
  void unterminated(const char* at, std::string_view what) {
    if (record_) record({XMLDocument::Repair::Kind::Unterminated, at, {}, what});
  }
  // Keeps the text between the cursor and `next` as a piece of the innermost element's text: the
  // first piece without the white space before it; blank text before any piece is dropped, and
  // so is text after a child (mixed, recorded).
  void keepText(const char* next) {
    if (open_.empty()) return;
    const ElementBeingRead& top = open_.back();
    const char* start = p_;
    if (!top.lastChild || !top.lastChild->isText()) {
      while (start < next && isSpace(static_cast<unsigned char>(*start)))
        ++start;
      if (start == next) return;
      if (top.lastChild) return mixedText(start);
    }
    appendToOpen(doc_.make<XMLText>(std::string_view(start, next - start)));
  }
  // Before a child element or CDATA section of the innermost element: the text it holds so far
  // is mixed, and dropped.
  void beforeChild() {
    if (open_.empty()) return;
    ElementBeingRead& top = open_.back();
    if (!top.lastChild || !top.lastChild->isText()) return;
    const char* at = static_cast<const XMLText*>(top.element->firstChild)->text().data();
    top.element->firstChild = nullptr;
    top.lastChild = nullptr;
    mixedText(at);
  }
  // Records text beside children of the innermost element, once for a run of such text.
  void mixedText(const char* at) {
    if (!record_) return;
    const std::string_view element = open_.back().element->name();
    if (!doc_.repairs.empty() && doc_.repairs.back().kind == XMLDocument::Repair::Kind::MixedText &&
        doc_.repairs.back().element.data() == element.data()) {
      return;
    }
    repaired(XMLDocument::Repair::Kind::MixedText, at, {});
  }
  // As the innermost element closes: its text, if any, loses the white space after it, and each
  // piece is decoded (into a copy: the text stays as read, for line numbers).
  void finishText() {
    const ElementBeingRead& top = open_.back();
    if (!top.lastChild || !top.lastChild->isText()) return;
    // The pieces after the last one that is not blank are white space after the text too.
    auto blank = [](std::string_view text) {
      return std::all_of(text.begin(), text.end(),
                         [](char c) { return isSpace(static_cast<unsigned char>(c)); });
    };
    XMLNode* lastWords = top.element->firstChild;
    for (XMLNode* node = lastWords; node; node = node->next) {
      if (!blank(static_cast<const XMLText*>(node)->text())) lastWords = node;
    }
    for (XMLNode* node = lastWords; node; node = node->next) {
      auto* piece = static_cast<XMLText*>(node);
      std::string_view text = piece->text();
      while (!text.empty() && isSpace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
      piece->setText(text);
    }
    for (XMLNode* node = top.element->firstChild; node; node = node->next) {
      auto* piece = static_cast<XMLText*>(node);
      if (piece->text().find('&') == std::string_view::npos) continue;
      char* out = static_cast<char*>(doc_.arena().allocate(piece->text().size(), 1));
      piece->setText(decodeInto(piece->text(), out));
    }
  }
  // Records text dropped between the cursor and `next` when it is not blank. The test is kept
  // apart from the search, so that a load without repairs pays one test per text.
  void droppedText(const char* next) {
    if (record_ && p_ != next) findDroppedText(next);
  }
  [[gnu::noinline]] void findDroppedText(const char* next) {
    if (open_.empty()) return;
    const char* c = p_;
    // Eight bytes at a time while each is a blank or a line feed, the layout between tags.
    for (; next - c >= 8; c += 8) {
      std::uint64_t word;
      std::memcpy(&word, c, 8);
      if (blanksOrLineFeeds(word) != kHighBits) break;
    }
    for (; c < next; ++c) {
      if (!isSpace(static_cast<unsigned char>(*c))) {
        repaired(XMLDocument::Repair::Kind::TextDropped, c, {});
        return;
      }
    }
  }
  // Links a node as the last child of the innermost open element, which remembers its last
  // child so that long child chains are built in linear time.
  void appendToOpen(XMLNode* node) {
    if (open_.empty()) return;
    if (kStream && open_.size() == 1 && !root_) return offer(node);
    ElementBeingRead& top = open_.back();
    if (top.lastChild) {
      top.lastChild->next = node;
    } else {
      top.element->firstChild = node;
    }
    top.lastChild = node;
  }

  XMLDocument& doc_;
  static constexpr bool record_ = kRecord;
  const ByteScans& scans_ = bestByteScans();
  char* begin_;  // the text, which the document keeps; values are decoded in place
  const char* p_;
  const char* end_;
  ReadError error_ = ReadError::None;
  bool finished_ = false;
  std::vector<ElementBeingRead>& open_;
  std::vector<XMLAttribute>& scratch_;
  // One bit for each name of the start tag being read (addAttribute).
  std::uint64_t namesSeen_ = 0;
  // Positions in scratch_ by name, once an element has many attributes.
  std::unordered_map<std::string_view, std::size_t> scratchIndex_;
  XMLElement* root_ = nullptr;
  // The sink that takes the first top-level element's children, while it takes them.
  ChildSink* sink_;
  XMLElement* sinkRoot_ = nullptr;  // the element whose children it took, once it took one
  bool taken_ = false;              // it took one with the markup being read
  bool sinkDropped_ = false;
  Arena::Mark childrenStart_{};  // where the arena stood after that element's start tag
  // Reading through a window: the window, and the last point the parse can go back to (the
  // position of a "<", the first top-level element when it is open there, the root then).
  InputWindow* window_ = nullptr;
  std::string_view mismatchedEnd_;
  const char* resumeAt_ = nullptr;
  XMLElement* resumeElement_ = nullptr;
  XMLElement* resumeRoot_ = nullptr;

  // Hands a child of the first top-level element to the sink: taken, its memory is used again;
  // refused, the parse ends, and the text is to be read again.
  void offer(XMLNode* node) {
    XMLElement* root = open_.front().element;
    if (!sink_->take(*root, *node)) return dropSink();
    sinkRoot_ = root;
    taken_ = true;
    doc_.arena().rewind(childrenStart_);
  }
  // Ends the sink's part: the parse stops here.
  void dropSink() {
    sinkDropped_ = true;
    finished_ = true;
  }
  // A declaration or DOCTYPE met inside the element whose children the sink takes, or after it:
  // the start the sink wrote would no longer be the document's, and what the declaration keeps
  // in the arena would be overwritten with the next child.
  bool headerChangesAfterSink() {
    if (!kStream || (open_.empty() && !sinkRoot_)) return false;
    dropSink();
    return true;
  }
};

}  // namespace

struct XMLDocument::ReaderScratch {
  std::vector<xml_reading::ElementBeingRead> open;
  std::vector<XMLAttribute> attributes;
};
