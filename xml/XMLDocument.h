#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/Diagnostic.h"
#include "xml/Arena.h"
#include "xml/TextLines.h"
#include "xml/XMLNode.h"

class InputWindow;
class OutputFile;

// How the writer treats the bytes of attribute values that are not printable ASCII.
struct WriteOptions {
  // Bytes that form a valid UTF-8 sequence of an XML character are written as they are; without
  // this, and for every other byte, each byte above 127 is written as a "&#x..;" reference.
  bool utf8 = false;
  // When given, set once a valid UTF-8 sequence of two bytes or more is written as references
  // (without `utf8`): the text of a reader of the output is then not the text of the input.
  bool* utf8Escaped = nullptr;
};

// Where a load finds a file's text other than on disk, such as an editor's unsaved buffer. A
// document without one reads every file; with one, a name it has a text for is read from there.
class FileSource {
 public:
  virtual ~FileSource() = default;
  // The text to read for `fileName` (a path as the run opens it), the failure to report instead
  // of reading it, or nothing to read the file. The text needs to live only until the load that
  // asked has copied it.
  virtual std::optional<Expected<std::string_view>> text(const std::string& fileName) = 0;
};

// Takes the children of a document's top-level element as the reader completes them, so that a
// large document can be written while it is read and the memory of each child used again. Only
// the first top-level element's children are offered, each once, in order.
class ChildSink {
 public:
  virtual ~ChildSink() = default;
  // `child`, an element with its whole subtree or a CDATA section, of the top-level element
  // `root` is complete (`root` has its attributes, and no children linked). True when the sink
  // has taken it: the reader then leaves it out of the tree and reuses its memory. False ends the
  // sink's part: the text is read again, every child kept.
  virtual bool take(const XMLElement& root, const XMLNode& child) = 0;
  // An element of the first top-level element (or that element itself) whose start tag has just
  // been read: its name and attributes, no children. False ends the sink's part at once, as a
  // refused child would at its end.
  virtual bool admits(const XMLElement& element) = 0;
  // What the sink took is not wanted: the text is read again, every child kept (after a false
  // `take`, or when the text did not end with `root` as the document's one complete element).
  virtual void drop() = 0;
};

// How a failed load is worded: as the run's input file, or as a file an include element names.
enum class LoadRole : std::uint8_t { Input, Include };

// An XML document: the root element and the declaration fields. The document owns every node and
// string of its tree through its arena.
class XMLDocument {
 public:
  XMLDocument();
  ~XMLDocument();
  XMLDocument(const XMLDocument&) = delete;
  XMLDocument& operator=(const XMLDocument&) = delete;

  std::optional<std::string_view> doctype;
  std::optional<std::string_view> version;
  std::optional<std::string_view> encoding;
  XMLElement* root = nullptr;
  // After a load: the innermost element still open where the text ended, if any (the reader
  // drops elements that are never closed), the editor's line of its "<", from 0, and its column,
  // bytes from 1.
  struct OpenElement {
    std::string_view name;
    std::int32_t line;
    std::int32_t column;
  };
  std::optional<OpenElement> unclosed;
  // "<NAME> opened at LINE:COLUMN" (both from 1), for a message about an element left open.
  static std::string openedAt(const OpenElement& open) {
    return "<" + std::string(open.name) + "> opened at " + std::to_string(open.line + 1) + ":" +
           std::to_string(open.column);
  }

  // What the lenient reader repaired in the text of the last load, in the order met. Recorded
  // only when `recordRepairs` is set, so that a load nobody asks about costs nothing more.
  struct Repair {
    enum class Kind : std::uint8_t {
      TextDropped,         // non-blank text inside `element` (`at`: its first byte)
      MixedText,           // kept text beside child elements of `element`: dropped (`at`: text)
      OtherElementClosed,  // the end tag `name` closed the open `element`, whose name it begins
      UnquotedAttribute,   // attribute `name` of `element` has an unquoted value: dropped
      DuplicateAttribute,  // attribute `name` of `element` given again: the last value kept
      SeveralRoots,        // the top-level `element` was dropped: `name` came after it
      Unterminated,        // the `name` ("comment", "CDATA section") opened at `at` never ends
      ReferenceReduced,    // a character reference in `element` above 255 (with
                           // utf8References: no character) became `byte`
      ReferenceEndsValue,  // a character reference in `element` gave byte 0: the value ends
      NulByte,             // a NUL byte at `at` ends the text
      Utf16,               // the text starts with a UTF-16 byte-order mark (the last kind)
    };
    Kind kind;
    const char* at;  // where in the text
    std::string_view element;
    std::string_view name;
    unsigned char byte = 0;  // References: the byte written
    bool wide = false;       // References: the code was above 255
  };
  bool recordRepairs = false;
  // The kinds recorded, one bit each (1 << Kind): a repair of another kind is made and not
  // recorded, so that it neither shows nor ends the writing of children as they are read.
  std::uint32_t recordedKinds = ~std::uint32_t{0};
  bool records(Repair::Kind kind) const {
    return recordRepairs && (recordedKinds >> static_cast<unsigned>(kind) & 1) != 0;
  }
  std::vector<Repair> repairs;
  // How the next loads read. keepText: the text of an element that has no child element or CDATA
  // section is kept (XMLText), trimmed of the white space around it; text beside them is dropped
  // (a MixedText repair). utf8References: a character reference to a character above 0x7F gives
  // its UTF-8 bytes; one to a code that is no character XML allows (a surrogate, U+FFFE, U+FFFF
  // or above U+10FFFF) gives its low byte, as every reference above 255 does without it.
  bool keepText = false;
  bool utf8References = false;
  // Where loads look for texts before the disk; none by default.
  FileSource* fileSource = nullptr;

  // Positions in the texts the document read, through each text's one line index (TextLines):
  // a position costs a search among the texts and a binary search among the text's lines.
  // The line of an element's "<" in the text it was read from, from 0 (copies of an element
  // share its name, and so its line).
  std::int32_t lineOf(const XMLElement* element) const;
  // The line of a position inside a text the document read, from 0 (0 for any other pointer).
  std::int32_t lineAt(const char* position) const;
  // The column of an element's "<": bytes from 1 within its line (0 for an element not read
  // from a text, such as a loop's copy).
  std::int32_t columnOf(const XMLElement* element) const;
  // The column of a position inside a text the document read (0 for any other pointer).
  std::int32_t columnAt(const char* position) const;
  // The byte offset of a position inside a text the document read (nothing for any other
  // pointer).
  std::optional<std::size_t> offsetAt(const char* position) const;
  // The file whose text holds `position` (the path as it was loaded) and that text from
  // `position` on; nothing for a pointer into no text the document read.
  struct TextPlace {
    const std::string* file;
    std::string_view rest;
  };
  std::optional<TextPlace> placeAt(const char* position) const;
  // The lines of the text that holds `position`, or of the text last read for `fileName` (the
  // path as it was loaded); null for any other.
  const TextLines* linesAt(const char* position) const;
  const TextLines* linesOf(std::string_view fileName) const;

  Arena& arena() { return arena_; }

  // Node construction; the names and texts must live in the arena.
  template <class T>
  T* make(std::string_view text) {
    return new (arena_.allocate(sizeof(T), alignof(T))) T(text);
  }
  XMLElement* createElement(std::string_view name) { return make<XMLElement>(name); }
  // A detached element of the same name, without children, whose attributes are those of
  // `source` through `mapAttribute` (an attribute to its copy), in order.
  template <class MapAttribute>
  XMLElement* copyAttributes(const XMLElement* source, MapAttribute mapAttribute) {
    XMLElement* copy = createElement(source->name());
    if (const std::uint32_t count = source->attributeCount()) {
      XMLAttribute* records = arena_.allocateArray<XMLAttribute>(count);
      for (std::uint32_t i = 0; i < count; ++i)
        records[i] = mapAttribute(source->attributes()[i]);
      copy->adoptAttributes(records, count);
    }
    return copy;
  }
  // Copies bytes into the arena, NUL-terminated.
  std::string_view duplicateString(std::string_view bytes) { return arena_.copy(bytes); }

  // A detached deep copy of the element: attributes in order, children in order.
  XMLElement* copyElement(const XMLElement* source);

  // Copies the tree under `source` node by node with `copyOne` (a node to its detached copy, or
  // null to leave the node and its subtree out), linking each copy under the copy of its parent
  // in order. Iterative, and linear in the number of nodes; its stack is kept from one copy to
  // the next, so that the many small copies of a loop allocate nothing for it.
  template <class CopyOne>
  XMLNode* copyTree(const XMLNode* source, CopyOne copyOne) {
    XMLNode* result = copyOne(source);
    // Entries above `base` are this copy's (a `copyOne` may make copies of its own).
    std::vector<CopyPending>& stack = copyStack_;
    const std::size_t base = stack.size();
    if (source->firstChild) stack.push_back({source->firstChild, result, nullptr});
    while (stack.size() > base) {
      CopyPending& top = stack.back();
      const XMLNode* node = top.source;
      if (!node) {
        stack.pop_back();
        continue;
      }
      top.source = node->next;
      XMLNode* copy = copyOne(node);
      if (!copy) continue;
      CopyPending& parent = stack.back();  // `copyOne` may have grown the stack
      if (parent.lastChild) {
        parent.lastChild->next = copy;
      } else {
        parent.copy->firstChild = copy;
      }
      parent.lastChild = copy;
      if (node->firstChild) stack.push_back({node->firstChild, copy, nullptr});
    }
    return result;
  }

  // Reads a whole file ("-": standard input) and parses it into the document, replacing `root`
  // with what was completed before any error (see XMLReader.cpp and InputFile.h); a file that
  // cannot be read leaves `root` as it was. The failure is worded for `role`; a text that was
  // read locates it at the error's line and column.
  //   Input:   "load error REASON at N"
  //   Include: "error "REASON" in include file PATH line:N", or, when the text completed no
  //            element before the error, "error: include file 'PATH' is empty"
  // REASON is "couldn't read PATH", "bad tagName" or "tagName mismatch"; N counts lines from 0
  // the way this tool reports them: the line feeds from the text's second byte up to the error's
  // position, that byte included (0 for a file that could not be read).
  //
  // With a `sink` (for a load that keeps no text), the top-level element's children go to it as
  // they are read; when it took any and the load succeeds, the document's root is left without
  // them. A repair ends that (the text is read again whole), so that recorded repairs are
  // located in the text.
  Failure load(const std::string& fileName, LoadRole role = LoadRole::Input,
               ChildSink* sink = nullptr);
  // Parses a text as an input with no file name; the document keeps its own copy of the bytes.
  Failure loadText(std::string_view text);

  // Serialises the document in the fixed layout (see XMLWriter.cpp). `save` writes the file so
  // that it is replaced only once complete (see OutputFile.h), "-" standard output; a failure is
  // "couldn't write FILE". `writeFile` writes into an open file and finishes it, replacing
  // nothing, for a caller that puts it in place together with another file.
  Failure save(const std::string& fileName, WriteOptions options = {});
  Failure writeFile(OutputFile& file, WriteOptions options = {});
  void write(std::string& out, WriteOptions options = {});

 private:
  // Where and why the reader stopped before the end of a text.
  struct SyntaxError {
    std::string_view reason;    // "bad tagName" or "tagName mismatch"
    const char* text;           // the text, from its first byte
    const char* end;            // and its end
    const char* at;             // the position of the error in it
    std::int32_t reportedLine;  // the line the message gives (see load)
    // An end tag that closes no open element: the innermost open one and the end tag's name.
    const XMLElement* open = nullptr;
    std::string_view endName;
  };
  // Reads the input `fileName` a window at a time (InputWindow) while `sink` takes the children of
  // its first top-level element: nothing for a file too small for that, or no regular file (read
  // it whole); true when the document holds what was read; false when the sink's part ended
  // (the sink dropped: read the file whole, without it).
  std::optional<bool> loadThroughWindows(const std::string& fileName, ChildSink& sink);
  // The parse of loadThroughWindows: true when the document holds what was read.
  template <bool kRecord>
  bool parseWindows(InputWindow& window, ChildSink& sink);
  static constexpr std::size_t kWindowedFrom = 2 << 20;
  // Parses `size` bytes that live as long as the document (in its arena), and that it may change.
  std::optional<SyntaxError> loadBuffer(char* text, std::size_t size, const std::string& fileName,
                                        ChildSink* sink = nullptr);
  // Loads a copy of `text`, made in the arena; a syntax error is worded for `fileName` and `role`.
  Failure loadCopy(std::string_view text, const std::string& fileName, LoadRole role);
  // The parse of a loaded text, with or without recording the reader's repairs and keeping text.
  template <bool kRecord, bool kKeepText>
  std::optional<SyntaxError> parseText(char* text, std::size_t size, ChildSink* sink);
  // Records the repairs that concern the whole text: UTF-16, a NUL byte at `nul` (or none).
  void textRepairs(const char* text, std::size_t size, const char* nul);
  // A syntax error worded for `role` and located at its line and column in `fileName`.
  Diagnostic syntaxFailure(const SyntaxError& error, const std::string& fileName,
                           LoadRole role) const;

  Arena arena_;
  // A node copyTree has still to copy the rest of a chain from, and where those copies go.
  struct CopyPending {
    const XMLNode* source;  // the next node to copy
    XMLNode* copy;          // the copy it goes under
    XMLNode* lastChild;     // that copy's last child so far
  };
  std::vector<CopyPending> copyStack_;
  // Every text loaded, with its lines; `byAddress` in the order of their first bytes.
  struct LoadedText {
    const char* begin;
    std::string fileName;
    TextLines lines;
  };
  std::deque<LoadedText> texts_;
  std::vector<const LoadedText*> byAddress_;
  const LoadedText* loadedTextAt(const char* position) const;
  // Registers a text read for `fileName`.
  void addText(const char* text, std::size_t size, const std::string& fileName);
  // The reader's working lists (XMLReader.cpp), kept from one load to the next so that a run of
  // many small includes does not allocate them for each.
  struct ReaderScratch;
  std::unique_ptr<ReaderScratch> readerScratch_;
};

// Writes a document into a file piece by piece, in the layout of XMLDocument::writeFile, for a
// ChildSink: the start (declaration, DOCTYPE and the top-level element's start tag), then each of
// that element's children with its subtree, then its end tag. Output goes out in large blocks as
// it is produced.
class PieceWriter {
 public:
  PieceWriter(OutputFile& file, WriteOptions options);
  ~PieceWriter();
  PieceWriter(const PieceWriter&) = delete;
  PieceWriter& operator=(const PieceWriter&) = delete;

  // The start, with `doctype` as the DOCTYPE; `root` has no children linked.
  void start(const XMLDocument& doc, const std::optional<std::string_view>& doctype,
             const XMLElement& root);
  // A child of the top-level element; false once a write has failed.
  bool child(const XMLNode& child);
  // The end tag of `root`; what is buffered is written out and the file finished (not replaced).
  Failure finish(const XMLElement& root);

 private:
  struct State;
  OutputFile& file_;
  std::unique_ptr<State> state_;
};
