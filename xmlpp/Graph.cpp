#include "Graph.h"

#include <algorithm>
#include <filesystem>

#include "diagnostics/JsonText.h"

namespace {

std::string normal(std::string_view path) {
  if (path == "-") return std::string(path);
  return std::filesystem::path(path).lexically_normal().string();
}

// A DOT string's contents: quotes and backslashes escaped, a line feed as a label line break, and
// a byte that is no UTF-8 (or a control byte) shown as "\xHH".
std::string dotString(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const std::size_t length = utf8SequenceLength(text, at);
    if (byte == '"' || byte == '\\') {
      escaped.append(1, '\\').append(1, text[at]);
    } else if (length == 0 || byte < 0x20 || byte == 0x7f) {
      escaped.append("\\\\x").append(1, kHex[byte >> 4]).append(1, kHex[byte & 15]);
    } else {
      escaped.append(text.substr(at, length));
      at += length;
      continue;
    }
    ++at;
  }
  return escaped;
}

std::string where(const GraphPlace& at) {
  return at.file + ":" + std::to_string(at.line);
}

// The names a Defines edge shows: the first four, then how many more.
std::string namesText(const std::set<std::string, std::less<>>& names) {
  constexpr std::size_t kShown = 4;
  std::string text;
  std::size_t count = 0;
  for (const std::string& name : names) {
    if (count == kShown) break;
    text += (count++ ? ", " : "") + name;
  }
  if (names.size() > kShown) text += ", +" + std::to_string(names.size() - kShown) + " more";
  return text;
}

}  // namespace

RunGraph::RunGraph(const XMLDocument& document, const RunSettings& settings) : doc_(document) {
  const std::string input = normal(settings.input);
  nodes_.push_back(GraphNode{GraphNode::Kind::Input, input, {input, 1, 0}});
  nodeIndex_[{GraphNode::Kind::File, input}] = 0;
  for (const std::string& file : settings.macrosFiles)
    node(GraphNode::Kind::MacrosFile, normal(file), {normal(file), 1, 0});
  // The command line is a source when a macro comes from the list or -D.
  const bool commandLine =
      std::any_of(settings.macros.begin(), settings.macros.end(), [&](const auto& macro) {
        const auto source = settings.macroSources.find(macro.first);
        return source == settings.macroSources.end() ||
               source->second.kind != MacroOrigin::Kind::MacrosFile;
      });
  if (commandLine) {
    commandLine_ = node(GraphNode::Kind::CommandLine, "command line");
  }
}

std::size_t RunGraph::node(GraphNode::Kind kind, std::string name, GraphPlace at) {
  const auto [it, added] = nodeIndex_.try_emplace(NodeKey{kind, name}, nodes_.size());
  if (added) nodes_.push_back(GraphNode{kind, std::move(name), std::move(at)});
  return it->second;
}

std::size_t RunGraph::fileNode(const std::string* file) {
  const auto [it, added] = fileNodes_.try_emplace(file, 0);
  if (added) {
    const std::string name = normal(file ? *file : "-");
    it->second = node(GraphNode::Kind::File, name, {name, 1, 0});
  }
  return it->second;
}

GraphPlace RunGraph::placeOf(const std::string* file, const char* position) const {
  return GraphPlace{normal(file ? *file : "-"), doc_.lineAt(position) + 1,
                    doc_.offsetAt(position).value_or(0)};
}

void RunGraph::include(const IncludeEvent& event) {
  const std::size_t from = fileNode(event.place.file);
  const std::string name = normal(event.path);
  const std::size_t to = node(GraphNode::Kind::File, name, {name, 1, 0});
  const char* position = event.place.element->name().data();
  if (!newEdge(GraphEdge::Kind::Include, from, to, position)) return;
  edges_.push_back(GraphEdge{GraphEdge::Kind::Include,
                             from,
                             to,
                             event.includeDir ? *event.includeDir : std::string(),
                             {},
                             placeOf(event.place.file, position)});
}

void RunGraph::put(const PutEvent& event) {
  const std::size_t from = fileNode(event.place.file);
  const GraphPlace defined = placeOf(event.fragmentFile, event.fragment->name().data());
  std::string key =
      std::string(event.name) + '\n' + defined.file + '\n' + std::to_string(defined.offset);
  const auto [fragment, added] =
      nodeIndex_.try_emplace(NodeKey{GraphNode::Kind::Fragment, std::move(key)}, nodes_.size());
  if (added) {
    nodes_.push_back(GraphNode{GraphNode::Kind::Fragment, std::string(event.name), defined});
  }
  const char* position = event.place.element->name().data();
  if (!newEdge(GraphEdge::Kind::Put, from, fragment->second, position)) return;
  edges_.push_back(GraphEdge{
      GraphEdge::Kind::Put, from, fragment->second, {}, {}, placeOf(event.place.file, position)});
}

bool RunGraph::newEdge(GraphEdge::Kind kind, std::size_t from, std::size_t to,
                       const char* position) {
  // The directive's place in its file: the file is the edge's own, so its offset tells it.
  return edgeIndex_.insert({kind, from, to, doc_.offsetAt(position).value_or(0)}).second;
}

void RunGraph::used(const MacroOrigin* origin, std::string_view name, const std::string* file,
                    const char* position, const char* element) {
  if (!origin) return;
  std::size_t source = 0;
  switch (origin->kind) {
    case MacroOrigin::Kind::CommandLine:
    case MacroOrigin::Kind::DefineOption:
      if (!commandLine_) return;
      source = *commandLine_;
      break;
    case MacroOrigin::Kind::MacrosFile: {
      const std::string path = normal(origin->file ? *origin->file : "");
      source = node(GraphNode::Kind::MacrosFile, path, {path, 1, 0});
      break;
    }
    default:
      return;  // defined in the documents: no source of its own
  }
  const std::size_t to = fileNode(file);
  const auto [it, added] = definesIndex_.try_emplace({source, to}, edges_.size());
  if (added) {
    // The use itself where it stands in a text read, else its element (a loop's copy).
    if (!doc_.offsetAt(position)) position = element;
    edges_.push_back(
        GraphEdge{GraphEdge::Kind::Defines, source, to, {}, {}, placeOf(file, position)});
  }
  GraphEdge& edge = edges_[it->second];
  if (!edge.names.contains(name)) edge.names.emplace(name);
}

void RunGraph::reference(const ReferenceEvent& event) {
  const ResolvedReference& reference = event.reference;
  // A loop's variables, like every macro the documents define, have no source of their own.
  if (reference.source != ResolvedReference::Source::Macro) return;
  used(reference.origin, reference.name, event.place.file, reference.reference.data(),
       event.place.element->name().data());
}

void RunGraph::condition(const ConditionEvent& event) {
  // An ifex tests no macro (no origin), and an undefined name has none or the condition's own.
  const char* element = event.place.element->name().data();
  used(event.origin, event.name, event.place.file, element, element);
}

std::string dotText(const std::vector<GraphNode>& nodes, const std::vector<GraphEdge>& edges) {
  std::string text =
      "digraph xmlpp {\n"
      "  graph [rankdir=LR, fontname=\"sans-serif\"];\n"
      "  node [shape=box, fontname=\"sans-serif\", fontsize=11];\n"
      "  edge [fontname=\"sans-serif\", fontsize=9];\n";
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const GraphNode& node = nodes[i];
    text += "  n" + std::to_string(i) + " [label=\"";
    switch (node.kind) {
      case GraphNode::Kind::Input:
        text += dotString(node.name) + "\", style=bold";
        break;
      case GraphNode::Kind::File:
        text += dotString(node.name) + "\"";
        break;
      case GraphNode::Kind::Fragment:
        text += "xmldef " + dotString(node.name) + "\\n" + dotString(where(node.at)) +
                "\", shape=component";
        break;
      case GraphNode::Kind::MacrosFile:
      case GraphNode::Kind::CommandLine:
        text += dotString(node.name) + "\", shape=note";
        break;
    }
    text += "];\n";
  }
  for (const GraphEdge& edge : edges) {
    text += "  n" + std::to_string(edge.from) + " -> n" + std::to_string(edge.to) + " [label=\"";
    switch (edge.kind) {
      case GraphEdge::Kind::Include:
        text += "include";
        if (!edge.includeDir.empty()) text += " via -I " + dotString(edge.includeDir);
        text += "\\n" + dotString(where(edge.at)) + "\"";
        break;
      case GraphEdge::Kind::Put:
        text += "put\\n" + dotString(where(edge.at)) + "\", style=dashed";
        break;
      case GraphEdge::Kind::Defines:
        text += "defines " + dotString(namesText(edge.names)) + "\\n" + dotString(where(edge.at)) +
                "\", style=dotted";
        break;
    }
    text += "];\n";
  }
  return text + "}\n";
}
