// The language server on a stream of framed messages. The server is initialized first (a fixed
// message, so that the input reaches the features), then reads the input as its standard input:
// headers, bodies and garbage alike. Everything it sends must be JSON; it must neither crash nor
// stop serving (only "exit" stops it), and a shutdown and exit sent after the input must end it
// with status 0. While the server runs, open() is wrapped at link time (-Wl,--wrap=open) and fails
// for every path, so that no document the input names reaches a device or a file of the machine
// through the preprocessor's reader.

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "fuzz/ConfinedOpen.h"
#include "fuzz/FuzzInput.h"
#include "lsp/Server.h"
#include "lsp/Transport.h"

namespace {

bool confined = false;

// Feeds `text` to a reader in pieces of at most 4 KiB and serves each message.
void serve(Server& server, std::string_view text) {
  std::size_t at = 0;
  MessageReader reader([&](char* buffer, std::size_t size) {
    const std::size_t count = std::min({size, std::size_t{4096}, text.size() - at});
    std::copy_n(text.data() + at, count, buffer);
    at += count;
    return count;
  });
  while (!server.exited()) {
    MessageReader::Message message = reader.next();
    if (!message.dropped.empty()) server.dropped(message.dropped);
    if (message.end) break;
    server.receive(message.body);
    server.settle();
  }
}

}  // namespace

bool fuzz::openAllowed(const char*) {
  return !confined;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ServerSetup setup{"/opt/xmlpp", "0", 5000};
  Server server(setup, [](const std::string& body) {
    const nlohmann::json sent = nlohmann::json::parse(body, nullptr, false);
    fuzz::check(sent.is_object() && sent.value("jsonrpc", "") == "2.0",
                "the server sends JSON-RPC objects", body);
  });
  const std::string initialize = frameMessage(
      R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"rootUri":"file:///fuzz-lsp"}})");
  confined = true;
  serve(server, initialize);
  serve(server, fuzz::asText(data, size));
  if (!server.exited()) {
    serve(server, frameMessage(R"({"jsonrpc":"2.0","id":"end","method":"shutdown"})") +
                      frameMessage(R"({"jsonrpc":"2.0","method":"exit"})"));
    fuzz::check(server.exited() && server.exitStatus() == 0,
                "shutdown and exit end the server with status 0", "");
  }
  confined = false;
  return 0;
}
