#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "macros/MacroEnvironment.h"
#include "xml/XMLDocument.h"

// Why a run failed: the line the driver prints.
struct Failure {
  std::string message;
};

// The fragments registered by "xmldef", by name. The elements are detached from the tree and live
// in the document's arena.
using FragmentRegistry = std::map<std::string, const XMLElement*, std::less<>>;

// One run of the preprocessor: it loads a file into its document and carries out the directives
// there, so that afterwards the document holds the result. It owns what the run needs: the
// document, the registered fragments, the list of files loaded and the macro environment.
class Preprocessor {
 public:
  explicit Preprocessor(MacroEnvironment environment) : environment_(std::move(environment)) {}

  // Loads `fileName` and carries out its directives, with the macros of `macroList` at the top
  // level. The first failure ends the run; the document is then not meant to be written.
  std::optional<Failure> run(const std::string& fileName, std::string_view macroList);

  XMLDocument& document() { return document_; }
  // Every file the run loaded, once each, in first-load order.
  const std::vector<std::string>& loadedFiles() const { return loadedFiles_; }

 private:
  MacroEnvironment environment_;
  XMLDocument document_;
  FragmentRegistry fragments_;
  std::vector<std::string> loadedFiles_;
};
