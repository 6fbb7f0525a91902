#include "Server.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "Features.h"
#include "diagnostics/JsonText.h"

namespace {

using json = nlohmann::json;

const json* member(const json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

const std::string* stringAt(const json& object, const char* key) {
  const json* value = member(object, key);
  return value && value->is_string() ? value->get_ptr<const std::string*>() : nullptr;
}

// The requests served once initialized, and the capabilities that announce them.
json capabilities() {
  return {
      {"positionEncoding", "utf-16"},
      {"textDocumentSync", {{"openClose", true}, {"change", 2}}},
      {"hoverProvider", true},
      {"definitionProvider", true},
      {"referencesProvider", true},
      {"documentSymbolProvider", true},
      {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}},
      {"completionProvider", {{"triggerCharacters", {"<", "(", " "}}}},
      {"callHierarchyProvider", true},
  };
}

}  // namespace

namespace {

// Whether every string of `value` is valid UTF-8. The messages are the server's own, a few levels
// deep; the stack bounds nothing but them.
bool allUtf8(const nlohmann::json& value) {
  std::vector<const nlohmann::json*> stack{&value};
  while (!stack.empty()) {
    const nlohmann::json* node = stack.back();
    stack.pop_back();
    if (node->is_string()) {
      const std::string& text = node->get_ref<const std::string&>();
      for (std::size_t at = 0; at < text.size();) {
        // ASCII, the common case, eight bytes at a time.
        if (text.size() - at >= 8) {
          std::uint64_t word;
          std::memcpy(&word, text.data() + at, 8);
          if ((word & 0x8080808080808080u) == 0) {
            at += 8;
            continue;
          }
        }
        const std::size_t length = utf8SequenceLength(text, at);
        if (length == 0) return false;
        at += length;
      }
    } else if (node->is_structured()) {
      for (const auto& child : *node)
        stack.push_back(&child);
    }
  }
  return true;
}

}  // namespace

std::string jsonText(const nlohmann::json& value) {
  if (allUtf8(value)) return value.dump();
  // A string holds bytes that are not UTF-8 (a file name, a message quoting the input): every
  // string of the message is written as diagnostics are in JSON, a stray byte as "\xHH".
  nlohmann::json copy = value;
  std::vector<nlohmann::json*> stack{&copy};
  while (!stack.empty()) {
    nlohmann::json* node = stack.back();
    stack.pop_back();
    if (node->is_string()) {
      *node = ::jsonText(std::string_view(node->get_ref<const std::string&>()));
    } else if (node->is_structured()) {
      for (auto& child : *node)
        stack.push_back(&child);
    }
  }
  return copy.dump();
}

void Server::receive(std::string_view body) {
  json message = json::parse(body, nullptr, false);
  if (message.is_discarded()) {
    respond(nullptr, RpcError{rpc::kParseError, "the message is not JSON"});
    return;
  }
  dispatch(message);
}

void Server::dropped(std::string_view why) {
  respond(nullptr, RpcError{rpc::kParseError, "dropped input: " + std::string(why)});
}

void Server::dispatch(const json& message) {
  const json* id = member(message, "id");
  const bool validId = id && (id->is_string() || id->is_number_integer() || id->is_null());
  const std::string* method = stringAt(message, "method");
  if (!message.is_object() || !method || (id && !validId)) {
    // A response to a request of the server's is not answered; anything else is invalid.
    if (id && validId && (member(message, "result") || member(message, "error"))) return;
    respond(validId ? *id : json(nullptr),
            RpcError{rpc::kInvalidRequest, "not a JSON-RPC request or notification"});
    return;
  }
  const json* found = member(message, "params");
  // Never copied: a parameter may nest deeper than a recursive copy could go.
  static const json kNoParams = json::object();
  const json& params = found ? *found : kNoParams;
  if (!id) {
    notification(*method, params);
    return;
  }
  if (*method != "initialize" && !initialized_) {
    respond(*id, RpcError{rpc::kServerNotInitialized, "the server is not initialized"});
    return;
  }
  if (shutdown_) {
    respond(*id, RpcError{rpc::kInvalidRequest, "the server is shut down"});
    return;
  }
  if (*method == "shutdown") {
    // Answered at once, whatever waits to be run.
    respond(*id, request(*method, params));
    return;
  }
  auto cancelled = [&] { return interruptions_ && interruptions_->takeCancelled(id->dump()); };
  bool wasCancelled = cancelled();
  const bool settled = !wasCancelled && settle();
  wasCancelled = wasCancelled || cancelled();
  if (wasCancelled) {
    respond(*id, RpcError{rpc::kRequestCancelled, "the request was cancelled"});
  } else if (!settled) {
    respond(*id, RpcError{rpc::kContentModified, "a document changed while the request waited"});
  } else {
    try {
      respond(*id, request(*method, params));
    } catch (const RunInterrupted&) {
      respond(*id, cancelled() ? RpcError{rpc::kRequestCancelled, "the request was cancelled"}
                               : RpcError{rpc::kContentModified,
                                          "a document changed while the request ran"});
    }
  }
}

bool Server::settle() {
  if (shutdown_) return true;  // nothing is run after shutdown
  while (!unsettled_.empty()) {
    const std::string& uri = unsettled_.front();
    if (workspace_.document(uri)) {
      try {
        analyze(uri);
      } catch (const RunInterrupted&) {
        return false;  // the document stays unsettled, to be run again
      }
    }
    unsettled_.erase(unsettled_.begin());
  }
  return true;
}

void Server::touch(const std::string& uri) {
  // The document touched last is run first: the one being edited gets its diagnostics before
  // long runs of documents touched earlier.
  const auto found = std::find(unsettled_.begin(), unsettled_.end(), uri);
  if (found != unsettled_.end()) unsettled_.erase(found);
  unsettled_.insert(unsettled_.begin(), uri);
}

Reply Server::request(const std::string& method, const json& params) {
  if (method == "initialize") {
    if (initialized_) return RpcError{rpc::kInvalidRequest, "the server is initialized already"};
    return initialize(params);
  }
  if (method == "shutdown") {
    shutdown_ = true;
    return json(nullptr);
  }
  if (method == "xmlpp/preview") return preview(params);
  if (method == "xmlpp/trace") return trace(params);
  if (method == "xmlpp/commands") return commands(params);
  if (method == "xmlpp/graph") return graph(params);
  if (method == "callHierarchy/incomingCalls") return calls(params, true);
  if (method == "callHierarchy/outgoingCalls") return calls(params, false);
  return feature(method, params);
}

void Server::notification(const std::string& method, const json& params) {
  if (method == "exit") {
    exited_ = true;
    return;
  }
  if (method == "$/cancelRequest") {
    // The request it names was served before it (messages are served in order): its
    // cancellation is done with.
    const json* id = member(params, "id");
    if (interruptions_ && id) interruptions_->takeCancelled(id->dump());
    return;
  }
  if (!initialized_ || shutdown_) return;
  if (method == "initialized") {
    // The client is ready for messages: a workspace without a usable command database says so.
    if (const std::optional<std::string> problem = workspace_.databaseProblem()) {
      send_(jsonText({{"jsonrpc", "2.0"},
                      {"method", "window/showMessage"},
                      {"params", {{"type", 2}, {"message", *problem}}}}));
    }
  } else if (method == "textDocument/didOpen") {
    didOpen(params);
  } else if (method == "textDocument/didChange") {
    didChange(params);
  } else if (method == "textDocument/didClose") {
    didClose(params);
  }
}

void Server::respond(const json& id, const Reply& reply) {
  json message = {{"jsonrpc", "2.0"}, {"id", id}};
  if (const RpcError* error = std::get_if<RpcError>(&reply)) {
    message["error"] = {{"code", error->code}, {"message", error->message}};
  } else {
    message["result"] = std::get<json>(reply);
  }
  send_(jsonText(message));
}

Reply Server::initialize(const json& params) {
  std::string root;
  if (const std::string* uri = stringAt(params, "rootUri")) {
    if (std::optional<std::string> path = pathOfUri(*uri)) root = *path;
  } else if (const std::string* path = stringAt(params, "rootPath")) {
    root = *path;
  }
  const json* options = member(params, "initializationOptions");
  static const json kNoOptions;
  workspace_.configure(root, options ? *options : kNoOptions);
  initialized_ = true;
  return json{{"capabilities", capabilities()},
              {"serverInfo", {{"name", "xmlpp"}, {"version", XMLPP_VERSION}}}};
}

void Server::didOpen(const json& params) {
  const json* document = member(params, "textDocument");
  const std::string* uri = document ? stringAt(*document, "uri") : nullptr;
  const std::string* text = document ? stringAt(*document, "text") : nullptr;
  if (!uri || !text) return;
  const json* version = member(*document, "version");
  workspace_.open(*uri, *text,
                  version && version->is_number_integer() ? version->get<int64_t>() : 0);
  touch(*uri);
}

void Server::didChange(const json& params) {
  const json* document = member(params, "textDocument");
  const std::string* uri = document ? stringAt(*document, "uri") : nullptr;
  TextDocument* open = uri ? workspace_.document(*uri) : nullptr;
  const json* changes = member(params, "contentChanges");
  if (!open || !changes || !changes->is_array()) return;
  for (const json& change : *changes) {
    const std::string* text = stringAt(change, "text");
    if (!text) continue;
    const std::optional<TextRange> range = rangeOf(member(change, "range"));
    if (member(change, "range") && !range) continue;  // a range that is no range
    open->change(range, *text);
  }
  const json* version = member(*document, "version");
  if (version && version->is_number_integer()) open->setVersion(version->get<int64_t>());
  touch(*uri);
}

void Server::didClose(const json& params) {
  const json* document = member(params, "textDocument");
  const std::string* uri = document ? stringAt(*document, "uri") : nullptr;
  if (!uri || !workspace_.close(*uri)) return;
  // A file no command covers loses its diagnostics with its document.
  const std::optional<std::string> path = pathOfUri(*uri);
  if (!path) return;
  const auto published = published_.find(*path);
  if (published == published_.end() || workspace_.latestFor(*path)) return;
  for (const std::string& shown : published->second)
    send_(jsonText({{"jsonrpc", "2.0"},
                    {"method", "textDocument/publishDiagnostics"},
                    {"params", {{"uri", shown}, {"diagnostics", json::array()}}}}));
  published_.erase(published);
}

void Server::analyze(const std::string& uri) {
  const std::optional<std::string> path = pathOfUri(uri);
  if (!path) return;
  const Analysis& analysis = workspace_.run(*path);
  // A message that arrived during the run may have changed what it read: its diagnostics would be
  // stale, so the document is run again instead.
  if (interruptions_ && interruptions_->pending()) throw RunInterrupted{};
  publish(analysis);
}

void Server::publish(const Analysis& analysis) {
  std::map<std::string, json> byUri = diagnosticsByUri(workspace_, analysis);
  std::set<std::string>& shown = published_[analysis.input];
  for (const std::string& uri : shown)
    byUri.try_emplace(uri, json::array());
  // An open file the run read hears that it has none, too.
  std::vector<std::string> read = analysis.loadedFiles;
  read.push_back(analysis.input);
  for (const std::string& file : read) {
    const std::string uri = workspace_.uriOf(file);
    if (workspace_.document(uri)) byUri.try_emplace(uri, json::array());
  }
  shown.clear();
  for (auto& [uri, diagnostics] : byUri) {
    if (!diagnostics.empty()) shown.insert(uri);
    send_(jsonText({{"jsonrpc", "2.0"},
                    {"method", "textDocument/publishDiagnostics"},
                    {"params", {{"uri", uri}, {"diagnostics", std::move(diagnostics)}}}}));
  }
}

std::variant<TextDocument*, RpcError> Server::openDocument(Expected<PositionRequest>& request) {
  if (!request) return RpcError{rpc::kInvalidParams, request.error().message};
  TextDocument* open = workspace_.document(request->uri);
  if (!open) return RpcError{rpc::kInvalidParams, "the document is not open: " + request->uri};
  return open;
}

std::variant<std::string, RpcError> Server::documentPath(const json& params) {
  Expected<PositionRequest> request = readRequest(params, false);
  const auto open = openDocument(request);
  if (const RpcError* error = std::get_if<RpcError>(&open)) return *error;
  std::optional<std::string> path = pathOfUri(request->uri);
  if (!path) return RpcError{rpc::kRequestFailed, "the document is no file"};
  return std::move(*path);
}

std::variant<const Analysis*, RpcError> Server::latestRun(const json& params) {
  const auto path = documentPath(params);
  if (const RpcError* error = std::get_if<RpcError>(&path)) return *error;
  const Analysis* analysis = workspace_.latestFor(std::get<std::string>(path));
  if (!analysis) return RpcError{rpc::kRequestFailed, "the document has not been run"};
  return analysis;
}

Reply Server::preview(const json& params) {
  const auto run = latestRun(params);
  if (const RpcError* error = std::get_if<RpcError>(&run)) return *error;
  const Analysis* analysis = std::get<const Analysis*>(run);
  if (!analysis->output) {
    const std::string why =
        analysis->diagnostics.empty() ? "the run failed" : analysis->diagnostics.back().message;
    return RpcError{rpc::kRequestFailed, why};
  }
  return json{{"text", *analysis->output}, {"input", analysis->input}};
}

Reply Server::trace(const json& params) {
  const auto path = documentPath(params);
  if (const RpcError* error = std::get_if<RpcError>(&path)) return *error;
  return json{{"text", workspace_.trace(std::get<std::string>(path))}};
}

Reply Server::graph(const json& params) {
  const auto path = documentPath(params);
  if (const RpcError* error = std::get_if<RpcError>(&path)) return *error;
  return graphReply(workspace_, workspace_.graph(std::get<std::string>(path)));
}

Reply Server::calls(const json& params, bool incoming) {
  const json* item = member(params, "item");
  const std::string* uri = item ? stringAt(*item, "uri") : nullptr;
  if (!uri) return RpcError{rpc::kInvalidParams, "item.uri is missing or not a string"};
  const std::optional<std::string> path = pathOfUri(*uri);
  const Analysis* analysis = path ? workspace_.latestFor(*path) : nullptr;
  if (!analysis) return json::array();
  return includeCalls(workspace_, *analysis, *path, incoming);
}

Reply Server::commands(const json& params) {
  const auto found = documentPath(params);
  if (const RpcError* error = std::get_if<RpcError>(&found)) return *error;
  const std::string& path = std::get<std::string>(found);
  Workspace::Choice choice = workspace_.choices(path);
  if (const json* select = member(params, "select")) {
    if (!select->is_string()) return RpcError{rpc::kInvalidParams, "select is not a string"};
    if (!workspace_.choose(choice.input, select->get<std::string>())) {
      return RpcError{rpc::kInvalidParams, "no build command for " + choice.input + " writes " +
                                               select->get<std::string>()};
    }
    choice = workspace_.choices(path);
    // Run again by the chosen command at the next settle; the run publishes the diagnostics of
    // every file it reads, the input's too.
    touch(workspace_.uriOf(path));
  }
  json list = json::array();
  for (std::size_t i = 0; i < choice.commands.size(); ++i) {
    const Command& command = *choice.commands[i];
    list.push_back({{"output", command.output},
                    {"directory", command.directory},
                    {"arguments", command.arguments},
                    {"used", choice.used == i}});
  }
  return json{{"input", choice.input}, {"commands", std::move(list)}};
}

Reply Server::feature(const std::string& method, const json& params) {
  using Handler = json (*)(const FeatureContext&, const PositionRequest&);
  struct Feature {
    Handler handler;
    bool withPosition;
  };
  static const std::map<std::string, Feature, std::less<>> kHandlers = {
      {"textDocument/hover", {&hover, true}},
      {"textDocument/definition", {&definition, true}},
      {"textDocument/references", {&references, true}},
      {"textDocument/completion", {&completion, true}},
      {"textDocument/documentSymbol", {&documentSymbols, false}},
      {"textDocument/codeAction", {&codeActions, false}},
      {"textDocument/prepareCallHierarchy", {&prepareCallHierarchy, true}},
  };
  const auto handler = kHandlers.find(method);
  if (handler == kHandlers.end()) {
    return RpcError{rpc::kMethodNotFound, "unknown method: " + method};
  }
  Expected<PositionRequest> request = readRequest(params, handler->second.withPosition);
  const auto open = openDocument(request);
  if (const RpcError* error = std::get_if<RpcError>(&open)) return *error;
  const std::optional<std::string> path = pathOfUri(request->uri);
  const FeatureContext context{workspace_, *std::get<TextDocument*>(open), path.value_or(""),
                               path ? workspace_.latestFor(*path) : nullptr};
  return handler->second.handler(context, *request);
}
