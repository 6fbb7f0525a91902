// The server's features over a fixed workspace: a library file of fragments and macros stays
// open in one server made once, and the input is a request and the text of the main document,
// opened, asked about and closed again.
// The input's first byte picks the request, the next two its line and character; the rest is the
// main document's text. Every message the server sends must be JSON-RPC, the request must be
// answered (a result or an error, with its id), and the server must not stop. As in fuzz_lsp,
// open() fails for every path while the server runs, so no name in the input reaches a file.

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "fuzz/ConfinedOpen.h"
#include "fuzz/FuzzInput.h"
#include "lsp/Server.h"

namespace {

bool confined = false;

constexpr const char* kLibrary =
    "<envelope>\n"
    "  <define name=\"SPEED\" value=\"$(BOARD)-fast\"/>\n"
    "  <xmldef name=\"uart\"><uart port=\"$(PORT)\" speed=\"$(SPEED)\"/></xmldef>\n"
    "  <for index=\"i\" start=\"0\" end=\"2\" incr=\"1\"><slot n=\"$(i)\"/></for>\n"
    "</envelope>\n";

constexpr const char* kRequests[] = {
    "textDocument/hover",
    "textDocument/definition",
    "textDocument/references",
    "textDocument/completion",
    "textDocument/documentSymbol",
    "xmlpp/preview",
    "xmlpp/trace",
};

std::string notification(const char* method, const nlohmann::json& params) {
  // A client sends JSON, which holds no invalid UTF-8: such bytes of the input become U+FFFD.
  return nlohmann::json{{"jsonrpc", "2.0"}, {"method", method}, {"params", params}}.dump(
      -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

bool fuzz::openAllowed(const char*) {
  return !confined;
}

// The server, made once: initialized, with the library open and settled. Each input then costs
// one run, of the main document, as an edit in an editor does.
Server& workspace(bool& answered) {
  // A small work budget: a run of a few thousand elements tells what a run of a million would.
  static const ServerSetup setup{"/opt/xmlpp", "0", 5000};
  static Server server(setup, [&answered](const std::string& body) {
    const nlohmann::json sent = nlohmann::json::parse(body, nullptr, false);
    fuzz::check(sent.is_object() && sent.value("jsonrpc", "") == "2.0",
                "the server sends JSON-RPC objects", body);
    if (sent.contains("id") && sent["id"] == "asked") {
      fuzz::check(sent.contains("result") != sent.contains("error"),
                  "a request is answered with a result or an error", body);
      answered = true;
    }
  });
  static const bool opened = [] {
    confined = true;
    server.receive(
        R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"rootUri":"file:///fuzz-features","initializationOptions":{"macros":"BOARD=evb;PORT=1"}}})");
    server.receive(notification("textDocument/didOpen", {{"textDocument",
                                                          {{"uri", "file:///fuzz-features/lib.xml"},
                                                           {"languageId", "xml"},
                                                           {"version", 1},
                                                           {"text", kLibrary}}}}));
    server.settle();
    confined = false;
    return true;
  }();
  (void)opened;
  return server;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  static bool answered = false;
  static int version = 0;
  Server& server = workspace(answered);
  answered = false;
  const std::string main = "file:///fuzz-features/main.xml";
  const std::string text(fuzz::asText(data + 3, size - 3));
  confined = true;
  server.receive(notification(
      "textDocument/didOpen",
      {{"textDocument",
        {{"uri", main}, {"languageId", "xml"}, {"version", ++version}, {"text", text}}}}));
  const char* method = kRequests[data[0] % std::size(kRequests)];
  server.receive(nlohmann::json{{"jsonrpc", "2.0"},
                                {"id", "asked"},
                                {"method", method},
                                {"params",
                                 {{"textDocument", {{"uri", main}}},
                                  {"position", {{"line", data[1] % 16}, {"character", data[2]}}},
                                  {"context", {{"includeDeclaration", true}}}}}}
                     .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  // Closed again, so that the next input starts from the same workspace.
  server.receive(notification("textDocument/didClose", {{"textDocument", {{"uri", main}}}}));
  server.settle();
  confined = false;
  fuzz::check(answered && !server.exited(), "the request is answered and the server serves on");
  return 0;
}
