#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diagnostics/Diagnostic.h"
#include "files/OutputFile.h"
#include "files/WrittenFiles.h"
#include "macros/MacroEnvironment.h"
#include "macros/MacroMap.h"
#include "xml/XMLDocument.h"
#include "xmlpp/Checks.h"
#include "xmlpp/WalkListener.h"

// Where a run's output goes while the run goes on: the children of the input's top-level element
// as the reader offers them (ChildSink), and children of the root element once the walk is done
// with them (a loop's finished iterations), so that neither stays in memory.
class RunOutput : public ChildSink {
 public:
  // `child`, a child of the root element that the walk is done with, as the output is to have it:
  // true when the output took it (the walk then drops it from the tree and may use its memory
  // again), false when it cannot (it stays).
  virtual bool takeFinished(const XMLElement& root, const XMLNode& child) = 0;
};

// Where a run's output goes: the file (one of the run's written files, WrittenFiles.h, not yet
// opened: the run opens, writes and finishes it, and the set puts it in place), its path ("-":
// standard output), the DOCTYPE it gets in place of the document's, and how values are written.
struct OutputTarget {
  OutputFile& file;
  std::string path;
  std::optional<std::string> doctype;
  WriteOptions options;
};

// One run of the preprocessor: it loads a file into its document and carries out the directives
// there, so that afterwards the document holds the result. It owns what outlives the walk: the
// document, the list of files loaded and the macro environment.
class StreamedOutput;

class Preprocessor {
 public:
  // A run with these checks enabled (Checks.h; none by default): their findings are warnings
  // (warnings()), or, with CheckSettings::strict(), errors that fail the run.
  explicit Preprocessor(MacroEnvironment environment, const CheckSettings& checks = {});
  ~Preprocessor();

  // Loads `fileName` and carries out its directives, with the macros of `macroList` at the top
  // level. The first failure ends the run; the document is then not meant to be written. Its
  // locations are where it happened (the element, or the position of a load error), then the
  // include and xmlput elements through which the walk reached there.
  // With an `output`, the input's top-level element's children go to it as they are read
  // (XMLDocument::load), and so do the root's children that the walk has finished with.
  Failure run(const std::string& fileName, std::string_view macroList,
              WalkListener* listener = nullptr);
  // The same with the top-level macros given as a map.
  Failure run(const std::string& fileName, const MacroMap& macros, WalkListener* listener = nullptr,
              RunOutput* output = nullptr);
  // A run whose result goes to `target`, which `writeOutput` then completes. Where nothing needs
  // the whole tree (`streams`), the output is written as the input is read and walked; should an
  // include loaded after it began give the document another declaration or DOCTYPE, the run is
  // made again, with a new document, and written after the walk.
  Failure runFor(const std::string& fileName, const MacroMap& macros, const OutputTarget& target,
                 WalkListener* listener = nullptr);
  // Writes what the run left to write into `target` (all of it, or what did not stream) and
  // finishes the file; nothing is put in place. Then the utf8-as-references check: once for the
  // output, when it wrote UTF-8 text as one reference per byte (a finding that, in strict mode,
  // fails the run).
  Failure writeOutput(const OutputTarget& target);
  // Writes the output: what did not stream, or all of it.
  Failure writeRest(const OutputTarget& target);
  // Whether a run into `target` is written as it goes: not for standard output (which must get
  // nothing on a failure), nor with kept text, which needs the tree.
  bool streams(const OutputTarget& target) const;

  // Whether the walk would keep `element` as read, children aside: it is no directive and no
  // attribute value holds a reference.
  static bool keepsAsRead(const XMLElement& element);

  // Folders in which an include that is not found beside the including file is looked up, in
  // order; the first that holds the file gives its path.
  void setIncludeDirs(std::vector<std::string> dirs) { includeDirs_ = std::move(dirs); }

  // Where the top-level macros not from the macro list came from (a macros file's line, -D), for
  // the trace and the editor; it must outlive the runs.
  void setMacroSources(const MacroSources* sources) { macroSources_ = sources; }

  // Where the run's loads look for texts before the disk (an editor's unsaved buffers).
  void setFileSource(FileSource* source) { document_->fileSource = source; }
  // The files the run writes, against which each included file is checked as it is met.
  void setWrittenFiles(const WrittenFiles* files) { writtenFiles_ = files; }

  XMLDocument& document() { return *document_; }
  // Every file the run loaded, once each, in first-load order.
  const std::vector<std::string>& loadedFiles() const { return loadedFiles_; }
  // What the enabled checks found, in the order found (none in strict mode, where a finding
  // fails the run).
  const std::vector<Diagnostic>& warnings() const { return warnings_; }

 private:
  MacroEnvironment environment_;
  CheckSettings checks_;
  std::unique_ptr<XMLDocument> document_ = std::make_unique<XMLDocument>();
  const WrittenFiles* writtenFiles_ = nullptr;
  const MacroSources* macroSources_ = nullptr;
  std::unique_ptr<StreamedOutput> streamed_;  // what runFor wrote as it went
  std::vector<std::string> loadedFiles_;
  std::vector<std::string> includeDirs_;
  std::vector<Diagnostic> warnings_;
  bool utf8Escaped_ = false;  // the output wrote UTF-8 text as one reference per byte
};
