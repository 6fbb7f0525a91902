#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/Diagnostic.h"
#include "files/OutputFile.h"
#include "xml/XMLDocument.h"

// Writes the output while the input is read: each child of the input's top-level element that the
// walk would keep as read goes to a temporary file beside the output as soon as it is complete, so
// that a large document without directives never has its whole tree in memory, and its output
// is written in the same pass as its input is read. A top-level element or child that the walk
// would change, or an output that is not written through a temporary file (standard output, a
// pipe, a device), ends the streaming: the input is then read again and walked whole, and the
// output written after the walk, as it is without a StreamedOutput.
class StreamedOutput final : public ChildSink {
 public:
  // `doctype`: the DOCTYPE the output is to have in place of the document's own, if any.
  StreamedOutput(const XMLDocument& document, std::string path,
                 std::optional<std::string_view> doctype, WriteOptions options)
      : document_(document), path_(std::move(path)), doctype_(doctype), options_(options) {}

  bool take(const XMLElement& root, const XMLNode& child) override;
  void drop() override;

  // Whether the output holds the root's start and children: then `finish` completes it, rather
  // than the document being written.
  bool holdsChildren() const { return writer_ != nullptr; }
  // Writes the root's end tag and finishes the file, which is then to be put in place.
  Failure finish(const XMLElement& root) { return writer_->finish(root); }
  OutputFile& file() { return *file_; }

 private:
  const XMLDocument& document_;
  std::string path_;
  std::optional<std::string_view> doctype_;
  WriteOptions options_;
  std::unique_ptr<OutputFile> file_;
  std::unique_ptr<PieceWriter> writer_;
  std::vector<const XMLNode*> pending_;  // scratch for Preprocessor::keepsAsRead
};
