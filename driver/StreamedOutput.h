#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/Diagnostic.h"
#include "files/OutputFile.h"
#include "xml/XMLDocument.h"
#include "xmlpp/Preprocessor.h"

// Writes the output while the run goes on. Each child of the input's top-level element that the
// walk would keep as read goes to a temporary file beside the output as soon as the reader has
// completed it, so that a large document without directives never has its whole tree in memory:
// a top-level element or child that the walk would change ends that, the input is then read again
// whole. And the root's children that the walk has finished with (those before a loop that goes
// on) go there as the walk goes, so that a long loop's output does not stay in memory. An output
// that is not written through a temporary file (standard output, a pipe, a device) takes nothing:
// it is written after the walk.
class StreamedOutput final : public RunOutput {
 public:
  // `doctype`: the DOCTYPE the output is to have in place of the document's own, if any.
  StreamedOutput(const XMLDocument& document, std::string path,
                 std::optional<std::string_view> doctype, WriteOptions options)
      : document_(document), path_(std::move(path)), doctype_(doctype), options_(options) {}

  bool take(const XMLElement& root, const XMLNode& child) override;
  bool admits(const XMLElement& element) override { return Preprocessor::keepsAsRead(element); }
  void drop() override;
  bool takeFinished(const XMLElement& root, const XMLNode& child) override;

  // Whether the output holds the root's start and children: then `finish` completes it, rather
  // than the document being written.
  bool holdsChildren() const { return writer_ != nullptr; }
  // Whether the declaration and DOCTYPE written are still the document's: an include the walk
  // loaded after the first child was written may have given it others (the run is then made
  // again, written after the walk).
  bool startStands() const { return start_ == currentStart(); }
  // Writes the root's children still in the tree and its end tag, and finishes the file, which
  // is then to be put in place.
  Failure finish(const XMLElement& root);
  OutputFile& file() { return *file_; }

 private:
  // The declaration and DOCTYPE the output starts with.
  struct Start {
    std::optional<std::string> version, encoding, doctype;
    bool operator==(const Start&) const = default;
  };
  // The start the document would be written with now.
  Start currentStart() const;
  // The DOCTYPE the output gets: the one given, else the document's.
  std::optional<std::string_view> doctype() const {
    return doctype_ ? doctype_ : document_.doctype;
  }
  // Opens the file and writes the start, up to the root's start tag: false when the output
  // cannot be opened so (it then takes nothing, ever).
  bool begin(const XMLElement& root);

  const XMLDocument& document_;
  std::string path_;
  std::optional<std::string_view> doctype_;
  WriteOptions options_;
  std::unique_ptr<OutputFile> file_;
  std::unique_ptr<PieceWriter> writer_;
  Start start_;
  bool refused_ = false;
};
