// The run's graph for the editor: xmlpp/graph (the DOT --graph writes, and its nodes and edges
// located), and the includes as a call hierarchy: a file's incoming calls are the includes that
// read it, its outgoing calls the includes it holds, as the latest run met them.

#include <filesystem>
#include <map>

#include "Features.h"

namespace {

using json = nlohmann::json;

constexpr const char* kNodeKinds[] = {"input", "file", "fragment", "macrosFile", "commandLine"};
constexpr const char* kEdgeKinds[] = {"include", "put", "defines"};

// The range of `length` bytes at `offset` of a text a run read; none for any other file.
std::optional<json> rangeAt(const std::map<std::string, FileText>& texts, const std::string& path,
                            std::size_t offset, std::size_t length) {
  const auto file = texts.find(path);
  if (file == texts.end()) return std::nullopt;
  return rangeJson(file->second.lines(), offset, offset + length);
}

json locationAt(const Workspace& workspace, const GraphRun& graph, const GraphPlace& at,
                std::size_t length) {
  const std::string path = normalPath(at.file);
  json location = {{"uri", workspace.uriOf(path)}};
  if (std::optional<json> range = rangeAt(graph.texts, path, at.offset, length)) {
    location["range"] = *range;
  }
  return location;
}

// A file as a call hierarchy item: the whole file, named by its path as shown.
json fileItem(const Workspace& workspace, const std::string& path) {
  const json start = positionJson({0, 0});
  return {{"name", std::filesystem::path(path).filename().string()},
          {"detail", workspace.shownPath(path)},
          {"kind", 1},
          {"uri", workspace.uriOf(path)},
          {"range", {{"start", start}, {"end", start}}},
          {"selectionRange", {{"start", start}, {"end", start}}}};
}

}  // namespace

json graphReply(const Workspace& workspace, const GraphRun& graph) {
  json nodes = json::array();
  for (std::size_t i = 0; i < graph.nodes.size(); ++i) {
    const GraphNode& node = graph.nodes[i];
    json entry = {{"id", "n" + std::to_string(i)},
                  {"kind", kNodeKinds[static_cast<std::size_t>(node.kind)]},
                  {"name", node.name}};
    if (node.kind != GraphNode::Kind::CommandLine) {
      const std::size_t length =
          node.kind == GraphNode::Kind::Fragment ? directiveName(DirectiveId::Xmldef).size() : 0;
      entry["location"] = locationAt(workspace, graph, node.at, length);
    }
    nodes.push_back(std::move(entry));
  }
  json edges = json::array();
  for (const GraphEdge& edge : graph.edges) {
    json entry = {{"from", "n" + std::to_string(edge.from)},
                  {"to", "n" + std::to_string(edge.to)},
                  {"kind", kEdgeKinds[static_cast<std::size_t>(edge.kind)]}};
    if (!edge.includeDir.empty()) entry["includeDir"] = edge.includeDir;
    if (!edge.names.empty()) entry["names"] = edge.names;
    const std::size_t length =
        edge.kind == GraphEdge::Kind::Include ? directiveName(DirectiveId::Include).size()
        : edge.kind == GraphEdge::Kind::Put   ? directiveName(DirectiveId::Xmlput).size()
                                              : 0;
    entry["location"] = locationAt(workspace, graph, edge.at, length);
    edges.push_back(std::move(entry));
  }
  return {{"dot", dotText(graph.nodes, graph.edges)},
          {"nodes", std::move(nodes)},
          {"edges", std::move(edges)}};
}

json prepareCallHierarchy(const FeatureContext& context, const PositionRequest&) {
  return json::array({fileItem(context.workspace, context.path)});
}

json includeCalls(const Workspace& workspace, const Analysis& analysis, const std::string& path,
                  bool incoming) {
  // By the file at the other end, in the order of the include elements.
  std::vector<std::string> order;
  std::map<std::string, json> ranges;
  const std::size_t length = directiveName(DirectiveId::Include).size();
  for (const auto& [at, opened] : analysis.includedPaths) {
    if ((incoming ? opened : at.file) != path) continue;
    const std::string& other = incoming ? at.file : opened;
    const auto [it, added] = ranges.try_emplace(other, json::array());
    if (added) order.push_back(other);
    if (std::optional<json> range = rangeAt(analysis.texts, at.file, at.offset, length)) {
      it->second.push_back(*range);
    }
  }
  json calls = json::array();
  for (const std::string& other : order) {
    calls.push_back({{incoming ? "from" : "to", fileItem(workspace, other)},
                     {"fromRanges", std::move(ranges[other])}});
  }
  return calls;
}
