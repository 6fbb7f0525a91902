#pragma once

// Writes a run's output while the run goes on (Preprocessor::runInto). Each child of the input's
// top-level element that the walk would keep as read goes to the output's temporary file as soon
// as the reader has completed it, so that a large document without directives never has its
// whole tree in memory: a top-level element or child that the walk would change ends that, and
// the input is then read again whole. And the root's children that the walk has finished with
// (those before a loop that goes on) go there as the walk goes, so that a long loop's output does
// not stay in memory. An output that is not written through a temporary file (standard output, a
// pipe, a device) takes nothing: it is written after the walk.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "diagnostics/Diagnostic.h"
#include "files/OutputFile.h"
#include "xml/XMLDocument.h"
#include "xmlpp/Checks.h"
#include "xmlpp/Preprocessor.h"

class StreamedOutput final : public RunOutput {
 public:
  // `checks`: the run's checks, which must find nothing in what is written as it is read;
  // `utf8Escaped`: set when the output writes UTF-8 text as references (WriteOptions).
  StreamedOutput(const XMLDocument& document, const OutputTarget& target,
                 const CheckSettings& checks, bool* utf8Escaped)
      : document_(document), target_(target), checks_(checks), options_(target.options) {
    options_.utf8Escaped = utf8Escaped;
  }

  bool take(const XMLElement& root, const XMLNode& child) override;
  bool admits(const XMLElement& element) override;
  void drop() override;
  bool takeFinished(const XMLElement& root, const XMLNode& child) override;

  // Whether the output holds the root's start and children: then `finish` completes it, rather
  // than the document being written.
  bool holdsChildren() const { return writer_ != nullptr; }
  // Whether the declaration and DOCTYPE written are still the document's: an include the walk
  // loaded after the first child was written may have given it others.
  bool startStands() const { return start_ == currentStart(); }
  // Writes the root's children still in the tree and its end tag, and finishes the file, which
  // is then to be put in place.
  Failure finish(const XMLElement& root);

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
    return target_.doctype ? std::optional<std::string_view>(*target_.doctype) : document_.doctype;
  }
  // Opens the file and writes the start, up to the root's start tag: false when the output
  // cannot be opened so (it then takes nothing, ever).
  bool begin(const XMLElement& root);

  const XMLDocument& document_;
  const OutputTarget& target_;
  const CheckSettings& checks_;
  WriteOptions options_;
  std::unique_ptr<PieceWriter> writer_;
  Start start_;
  bool refused_ = false;
};
