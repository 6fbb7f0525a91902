#pragma once

// The protocol's side of the language server: JSON-RPC 2.0 requests and notifications in, responses
// and notifications out, the lifecycle (initialize, shutdown, exit) and the documents' sync. It
// never ends the process and never throws past receive(): a message it cannot serve gets an
// error response (a request) or is dropped (a notification).

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>
#include <variant>

#include "Features.h"
#include "Interruptions.h"
#include "LanguageServer.h"
#include "Workspace.h"

// The JSON-RPC error codes the server sends.
namespace rpc {
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kInternalError = -32603;
inline constexpr int kServerNotInitialized = -32002;
inline constexpr int kRequestFailed = -32803;
inline constexpr int kRequestCancelled = -32800;
inline constexpr int kContentModified = -32801;
}  // namespace rpc

struct RpcError {
  int code;
  std::string message;
};
// A request's result, or the error to answer with.
using Reply = std::variant<nlohmann::json, RpcError>;

// The body of a message as sent, never an exception: in a message whose strings hold bytes that
// are not UTF-8, every such byte is written "\xHH", as in all JSON diagnostics.
std::string jsonText(const nlohmann::json& value);

class Server {
 public:
  using Send = std::function<void(const std::string& body)>;
  // With `interruptions` (may be null), a run stops when one is pending, and requests the client
  // cancelled are answered as such.
  Server(const ServerSetup& setup, Send send, Interruptions* interruptions = nullptr)
      : workspace_(setup, interruptions), send_(std::move(send)), interruptions_(interruptions) {}

  // Serves one message body. An opened or changed document is run later, by settle(), so that
  // edits that arrive together cost one run; a request settles first, so it sees every edit. A
  // request whose settling was interrupted is answered ContentModified, one cancelled meanwhile
  // RequestCancelled.
  void receive(std::string_view body);
  // Runs each document opened or changed since the last settle, once, and publishes its
  // diagnostics. The message loop calls it when no further message is waiting. False when a run
  // was interrupted: that document and those after it stay to be run.
  bool settle();
  // Answers bytes the transport dropped, with a parse error.
  void dropped(std::string_view why);

  bool exited() const { return exited_; }
  // The status to exit with: 0 after shutdown, else 1.
  int exitStatus() const { return shutdown_ ? 0 : 1; }

 private:
  using json = nlohmann::json;
  void dispatch(const json& message);
  Reply request(const std::string& method, const json& params);
  void notification(const std::string& method, const json& params);
  void respond(const json& id, const Reply& reply);

  Reply initialize(const json& params);
  void didOpen(const json& params);
  void didChange(const json& params);
  void didClose(const json& params);
  // Marks the document to be run at the next settle.
  void touch(const std::string& uri);
  // Runs what covers the document and publishes the diagnostics of every file the run read.
  void analyze(const std::string& uri);
  void publish(const Analysis& analysis);

  // The open document a request names, or the error for parameters that name none, or one that
  // is not open.
  std::variant<TextDocument*, RpcError> openDocument(Expected<PositionRequest>& request);
  // The file of the open document a request names, or the error to answer with.
  std::variant<std::string, RpcError> documentPath(const json& params);
  // The latest run that read that document.
  std::variant<const Analysis*, RpcError> latestRun(const json& params);
  Reply preview(const json& params);
  Reply trace(const json& params);
  // The build's commands for the document's input, the one used marked; with "select" (an
  // output), makes that command the one used, and runs the document again.
  Reply commands(const json& params);
  // xmlpp/graph: the graph of a run of what covers the document.
  Reply graph(const json& params);
  // callHierarchy/incomingCalls and outgoingCalls of a file item: its includers, its includes.
  Reply calls(const json& params, bool incoming);
  Reply feature(const std::string& method, const json& params);

  Workspace workspace_;
  Send send_;
  Interruptions* interruptions_;
  bool initialized_ = false;
  bool shutdown_ = false;
  bool exited_ = false;
  // The documents opened or changed since the last settle, the one touched last first.
  std::vector<std::string> unsettled_;
  // For each input, the URIs its latest run published diagnostics for, to clear them.
  std::map<std::string, std::set<std::string>> published_;
};
