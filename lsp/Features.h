#pragma once

// The language features: diagnostics in the protocol's form, hover, definition, references,
// completion and document symbols. Each works from the document's text and the latest run
// that read it.

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "Analysis.h"
#include "TextDocument.h"
#include "Workspace.h"

struct FeatureContext {
  const Workspace& workspace;
  const TextDocument& document;
  std::string path;          // the document's file
  const Analysis* analysis;  // the latest run that read it, or null
};

// A protocol position or range, or nothing for a value that is none.
std::optional<TextPosition> positionOf(const nlohmann::json* value);
std::optional<TextRange> rangeOf(const nlohmann::json* value);

// What a request about a place in a document asks, read from its parameters without an
// exception: a parameter missing or of another type is an error that names it.
struct PositionRequest {
  std::string uri;                       // textDocument.uri
  std::optional<TextPosition> position;  // position (for the requests that take one)
  bool includeDeclaration = false;       // context.includeDeclaration (references)
};
Expected<PositionRequest> readRequest(const nlohmann::json& params, bool withPosition);

nlohmann::json positionJson(TextPosition position);
// The range of bytes `start` to `end` of the text `lines` indexes.
nlohmann::json rangeJson(const TextLines& lines, std::size_t start, std::size_t end);

// The run's diagnostics, in the protocol's form, by the URI of the file each is located in.
std::map<std::string, nlohmann::json> diagnosticsByUri(const Workspace& workspace,
                                                       const Analysis& analysis);

nlohmann::json hover(const FeatureContext& context, const PositionRequest& request);
nlohmann::json definition(const FeatureContext& context, const PositionRequest& request);
nlohmann::json references(const FeatureContext& context, const PositionRequest& request);
nlohmann::json completion(const FeatureContext& context, const PositionRequest& request);
nlohmann::json documentSymbols(const FeatureContext& context, const PositionRequest& request);
// The quick fixes of the document's diagnostics that carry a certain repair (Diagnostic::fixes):
// one code action each, its edit the repair's replacements.
nlohmann::json codeActions(const FeatureContext& context, const PositionRequest& request);

// xmlpp/graph: a run's graph as --graph writes it ("dot"), and its nodes and edges with their
// locations.
nlohmann::json graphReply(const Workspace& workspace, const GraphRun& graph);
// The includes as a call hierarchy: the document is the item; the files that include `path`
// (incoming) or that it includes (outgoing) in the latest run that read it, each with the ranges
// of the include elements.
nlohmann::json prepareCallHierarchy(const FeatureContext& context, const PositionRequest& request);
nlohmann::json includeCalls(const Workspace& workspace, const Analysis& analysis,
                            const std::string& path, bool incoming);
