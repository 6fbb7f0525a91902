#pragma once

// The run's graph (--graph, the server's xmlpp/graph): the files the run read, the fragments it
// put and the sources of the macros it used, and how each led to the next. A WalkListener that
// keeps each edge once, however often the walk passes it (an include in a loop is one edge per
// file it opened), so its size follows the directives written, not the work done.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "xml/XMLDocument.h"
#include "xmlpp/Invocation.h"
#include "xmlpp/WalkListener.h"

// A place in a file the run read: the line from 1 and the byte offset of the element's name.
struct GraphPlace {
  std::string file;
  std::int32_t line = 0;
  std::size_t offset = 0;
};

struct GraphNode {
  enum class Kind : std::uint8_t { Input, File, Fragment, MacrosFile, CommandLine };
  Kind kind;
  std::string name;  // a file's path (lexically normal), a fragment's name, "command line"
  GraphPlace at;     // a fragment's xmldef; a file starts at its beginning
};

struct GraphEdge {
  enum class Kind : std::uint8_t { Include, Put, Defines };
  Kind kind;
  std::size_t from;  // indexes into nodes()
  std::size_t to;
  std::string includeDir;  // Include: the -I folder that found the file, else empty
  std::set<std::string, std::less<>> names;  // Defines: the macros used
  GraphPlace at;  // the include or xmlput element; for Defines, the first use in the file
};

// A graph in Graphviz's DOT language.
std::string dotText(const std::vector<GraphNode>& nodes, const std::vector<GraphEdge>& edges);

class RunGraph final : public WalkListener {
 public:
  // The graph of a run of `settings` over `document`.
  RunGraph(const XMLDocument& document, const RunSettings& settings);
  RunGraph(const RunGraph&) = delete;
  RunGraph& operator=(const RunGraph&) = delete;

  void reference(const ReferenceEvent& event) override;
  void condition(const ConditionEvent& event) override;
  void include(const IncludeEvent& event) override;
  void put(const PutEvent& event) override;

  const std::vector<GraphNode>& nodes() const { return nodes_; }
  const std::vector<GraphEdge>& edges() const { return edges_; }

 private:
  using NodeKey = std::pair<GraphNode::Kind, std::string>;
  std::size_t node(GraphNode::Kind kind, std::string name, GraphPlace at = {});
  std::size_t fileNode(const std::string* file);
  GraphPlace placeOf(const std::string* file, const char* position) const;
  // A use of a macro defined at `origin` in `file`, at `position` (or, where that is in no text
  // read, at `element`'s name).
  void used(const MacroOrigin* origin, std::string_view name, const std::string* file,
            const char* position, const char* element);
  // Whether the edge made by the directive at `position` is met for the first time.
  bool newEdge(GraphEdge::Kind kind, std::size_t from, std::size_t to, const char* position);

  const XMLDocument& doc_;
  std::vector<GraphNode> nodes_;
  std::vector<GraphEdge> edges_;
  std::map<NodeKey, std::size_t> nodeIndex_;
  // Include and Put edges met, by (kind, from, to, the offset of the element in from's file);
  // Defines edges by (source, file).
  std::set<std::tuple<GraphEdge::Kind, std::size_t, std::size_t, std::size_t>> edgeIndex_;
  std::map<std::pair<std::size_t, std::size_t>, std::size_t> definesIndex_;
  std::map<const std::string*, std::size_t> fileNodes_;  // by the walk's file strings
  // The command line's node, made with the graph when a macro comes from the list or -D.
  std::optional<std::size_t> commandLine_;
};
