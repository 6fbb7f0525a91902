// Loading a text into the document: from the file source, from the file itself (files/), or
// from memory; and the wording of a failed load.

#include <cstring>

#include "XMLLines.h"
#include "files/InputFile.h"
#include "xml/XMLDocument.h"

namespace {

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
  Diagnostic failure = Diagnostic::failure(
      loadMessage(role, fileName, error.reason, error.reportedLine, root),
      {{SourceLocation::Role::At, fileName, lineAt(error.at), columnAt(error.at)}});
  // What the reader found, in words, for the forms that show it (Diagnostic::text).
  if (error.open) {
    const OpenElement open{error.open->name(), lineOf(error.open), columnOf(error.open)};
    failure.cause = openedAt(open) + " is not closed before </" + std::string(error.endName) + ">";
  } else {
    failure.cause =
        "an attribute name was expected here (a name starts with a letter, \"_\" or \":\")";
  }
  return failure;
}

Failure XMLDocument::loadCopy(std::string_view text, const std::string& fileName, LoadRole role) {
  char* buffer = arena_.allocateBlock(text.size());
  if (!text.empty()) std::memcpy(buffer, text.data(), text.size());
  if (const std::optional<SyntaxError> error = loadBuffer(buffer, text.size(), fileName)) {
    return syntaxFailure(*error, fileName, role);
  }
  return std::nullopt;
}

Failure XMLDocument::loadText(std::string_view text) {
  return loadCopy(text, "", LoadRole::Input);
}

Failure XMLDocument::load(const std::string& fileName, LoadRole role, ChildSink* sink) {
  repairs.clear();
  auto failed = [&](Diagnostic failure) {
    failure.cause = failure.message;
    failure.message = loadMessage(role, fileName, failure.message, 0, root);
    return failure;
  };
  if (fileSource) {
    if (std::optional<Expected<std::string_view>> given = fileSource->text(fileName)) {
      if (!*given) return failed(std::move(given->error()));
      return loadCopy(**given, fileName, role);
    }
  }
  if (sink && role == LoadRole::Input && !keepText && fileName != "-") {
    if (const std::optional<bool> done = loadThroughWindows(fileName, *sink)) {
      if (*done) return std::nullopt;
      sink = nullptr;
    }
  }
  Expected<std::span<char>> text =
      readInputFile(fileName, [this](std::size_t size) { return arena_.allocateBlock(size); });
  if (!text) return failed(std::move(text.error()));
  if (const std::optional<SyntaxError> error =
          loadBuffer(text->data(), text->size(), fileName, sink)) {
    return syntaxFailure(*error, fileName, role);
  }
  return std::nullopt;
}
