// Loading a text into the document: from the file source, from the file itself (files/), or
// from memory; and the wording of a failed load.

#include <cstring>

#include "XMLLines.h"
#include "XMLParser.h"
#include "files/InputFile.h"
#include "xml/XMLDocument.h"

namespace {

using xml_reading::Parser;
using xml_reading::ReadError;

std::string loadMessage(LoadRole role, const std::string& fileName, std::string_view reason,
                        std::int32_t line, const XMLElement* root) {
  if (role == LoadRole::Input) {
    return "load error " + std::string(reason) + " at " + std::to_string(line);
  }
  if (!root) return "error: include file '" + fileName + "' is empty";
  return "error \"" + std::string(reason) + "\" in include file " + fileName +
         " line:" + std::to_string(line);
}

}  // namespace

Diagnostic XMLDocument::syntaxFailure(const SyntaxError& error, const std::string& fileName,
                                      LoadRole role) const {
  // The column counts from the last line end before the error: a line feed or a carriage return.
  const char* lineStart = error.at;
  while (lineStart > error.text && lineStart[-1] != '\n' && lineStart[-1] != '\r')
    --lineStart;
  return Diagnostic::failure(
      loadMessage(role, fileName, error.reason, error.reportedLine, root),
      {{SourceLocation::Role::At, fileName, editorLine(error.text, error.end, error.at),
        static_cast<std::int32_t>(error.at - lineStart + 1)}});
}

Failure XMLDocument::loadCopy(std::string_view text, const std::string& fileName, LoadRole role) {
  char* buffer = arena_.allocateBlock(text.size());
  if (!text.empty()) std::memcpy(buffer, text.data(), text.size());
  if (const std::optional<SyntaxError> error = loadBuffer(buffer, text.size())) {
    return syntaxFailure(*error, fileName, role);
  }
  return std::nullopt;
}

Failure XMLDocument::loadText(std::string_view text) {
  return loadCopy(text, "", LoadRole::Input);
}

Failure XMLDocument::load(const std::string& fileName, LoadRole role, ChildSink* sink) {
  repairs.clear();
  if (fileSource) {
    if (const std::optional<std::string_view> given = fileSource->text(fileName)) {
      return loadCopy(*given, fileName, role);
    }
  }
  if (sink && role == LoadRole::Input && !keepText && !recordRepairs && fileName != "-") {
    if (const std::optional<bool> done = loadThroughWindows(fileName, *sink)) {
      if (*done) return std::nullopt;
      sink = nullptr;
    }
  }
  Expected<std::span<char>> text =
      readInputFile(fileName, [this](std::size_t size) { return arena_.allocateBlock(size); });
  if (!text) {
    Diagnostic& failure = text.error();
    failure.cause = failure.message;
    failure.message = loadMessage(role, fileName, failure.message, 0, root);
    return failure;
  }
  if (const std::optional<SyntaxError> error = loadBuffer(text->data(), text->size(), sink)) {
    return syntaxFailure(*error, fileName, role);
  }
  return std::nullopt;
}

std::optional<XMLDocument::SyntaxError> XMLDocument::loadBuffer(char* text, std::size_t size,
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
  texts_.emplace_back(text, text + size);
  repairs.clear();
  if (recordRepairs) textRepairs(text, size, nul);
  if (!readerScratch_) readerScratch_ = std::make_unique<ReaderScratch>();
  if (keepText) {
    return recordRepairs ? parseText<true, true>(text, size, nullptr)
                         : parseText<false, true>(text, size, nullptr);
  }
  if (recordRepairs) {
    return parseText<true, false>(text, size, nullptr);
  }
  return parseText<false, false>(text, size, sink);
}

std::optional<bool> XMLDocument::loadThroughWindows(const std::string& fileName, ChildSink& sink) {
  InputWindow window;
  if (!window.open(fileName, kWindowedFrom)) return std::nullopt;
  char* text = window.begin();
  if (window.end() - text >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) text += 3;
  if (!readerScratch_) readerScratch_ = std::make_unique<ReaderScratch>();
  const Arena::Mark start = arena_.mark();
  const std::optional<std::string_view> header[] = {version, encoding, doctype};
  Parser<false, false> parser(*this, text, static_cast<std::size_t>(window.end() - text),
                              readerScratch_->open, readerScratch_->attributes, &sink);
  parser.readThrough(window);
  XMLElement* parsed = parser.parse();
  // The document keeps no view into the window: it stands only for a root whose children were
  // taken, with nothing left open.
  if (parsed && parser.tookChildren() && parser.sinkStands() && !parser.unclosed()) {
    root = parsed;
    unclosed.reset();
    return true;
  }
  sink.drop();
  arena_.rewind(start);
  version = header[0];
  encoding = header[1];
  doctype = header[2];
  return false;
}

template <bool kRecord, bool kKeepText>
std::optional<XMLDocument::SyntaxError> XMLDocument::parseText(char* text, std::size_t size,
                                                               ChildSink* sink) {
  const Arena::Mark start = arena_.mark();
  Parser<kRecord, kKeepText> parser(*this, text, size, readerScratch_->open,
                                    readerScratch_->attributes, sink);
  root = parser.parse();
  if (!parser.sinkStands()) {
    // The text is as it was read (nothing was decoded in place): read it again, keeping all. The
    // declaration and DOCTYPE it set were met before the sink's part began, and are met again.
    sink->drop();
    arena_.rewind(start);
    return parseText<kRecord, kKeepText>(text, size, nullptr);
  }
  unclosed = parser.unclosed();
  if (parser.error() == ReadError::None) return std::nullopt;
  return SyntaxError{parser.error() == ReadError::BadTagName ? "bad tagName" : "tagName mismatch",
                     text, text + size, parser.cursor(), parser.lineAt(parser.cursor())};
}

XMLDocument::XMLDocument() = default;
XMLDocument::~XMLDocument() = default;
