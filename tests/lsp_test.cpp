// The language server: message framing, UTF-16 positions, incremental edits, the JSON-RPC error
// responses and a session over a small project on disk.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "TestFiles.h"
#include "lsp/Analysis.h"
#include "lsp/Server.h"
#include "lsp/TextDocument.h"
#include "lsp/Transport.h"
#include "xml/TagText.h"

namespace {

using json = nlohmann::json;

// Reads the whole of `input`, handed to the reader three bytes at a time.
std::vector<MessageReader::Message> readAll(const std::string& input) {
  std::size_t at = 0;
  MessageReader reader([&](char* buffer, std::size_t size) {
    const std::size_t count = std::min({size, std::size_t{3}, input.size() - at});
    std::copy_n(input.data() + at, count, buffer);
    at += count;
    return count;
  });
  std::vector<MessageReader::Message> messages;
  while (messages.size() < 10) {
    messages.push_back(reader.next());
    if (messages.back().end) break;
  }
  return messages;
}

TEST(LspTransport, FramesAndDropsWhatIsNoMessage) {
  const std::string x5000(5000, 'x');
  struct Case {
    std::string input;
    std::vector<std::string> bodies;
    bool dropped;  // bytes were dropped on the way
  } cases[] = {
      {"Content-Length: 2\r\n\r\n{}", {"{}"}, false},
      {"content-length:   2  \r\nContent-Type: a/b\r\n\r\n{}", {"{}"}, false},
      {"Content-Length: 2\n\n{}Content-Length: 3\r\n\r\n[1]", {"{}", "[1]"}, false},
      {"\r\n\r\nContent-Length: 2\r\n\r\n{}", {"{}"}, false},
      {"garbage\r\n\r\nContent-Length: 2\r\n\r\n{}", {"{}"}, true},
      {" X: y\r\nContent-Length: 2\r\n\r\n{}", {"{}"}, true},  // no header name has a blank
      {"Content-Length: abc\r\n\r\nContent-Length: 2\r\n\r\n{}", {"{}"}, true},
      {"Content-Length: -1\r\n\r\nContent-Length: 2\r\n\r\n{}", {"{}"}, true},
      {"junk{}Content-Length: 2\r\n\r\n{}", {"{}"}, true},
      {x5000 + "\r\nContent-Length: 2\r\n\r\n{}", {"{}"}, true},
      {x5000 + "Content-Length: 2\r\n\r\n{}", {"{}"}, true},
      {"Content-Length: 5\r\n\r\n{}", {}, true},
      {"Content-Length: 99999999999\r\n\r\n{}", {}, true},
      {"Content-Length: 2\r\n", {}, true},
      {"", {}, false},
  };
  for (const Case& c : cases) {
    const std::vector<MessageReader::Message> messages = readAll(c.input);
    std::vector<std::string> bodies;
    bool dropped = false;
    for (const MessageReader::Message& message : messages) {
      if (!message.end) bodies.push_back(message.body);
      dropped = dropped || !message.dropped.empty();
    }
    EXPECT_EQ(bodies, c.bodies) << c.input.substr(0, 60);
    EXPECT_EQ(dropped, c.dropped) << c.input.substr(0, 60);
    EXPECT_TRUE(messages.back().end);
  }
  EXPECT_EQ(frameMessage("{}"), "Content-Length: 2\r\n\r\n{}");
}

TEST(LspPositions, CountUtf16UnitsAndClamp) {
  // "é" is two bytes and one unit, U+1F600 four bytes and two units (a surrogate pair).
  // The last line: three-byte characters (U+0800, U+20AC, U+FFFD) are one unit each, and the
  // four-byte ones with the largest lead byte (U+100000, U+10FFFF) two.
  const std::string text =
      "a\xC3\xA9\xF0\x9F\x98\x80"
      "b\r\ncd\rx\xFFy\n"
      "\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBDx\xF4\x80\x80\x80\xF4\x8F\xBF\xBFy";
  struct Case {
    TextPosition position;
    std::size_t offset;
  } cases[] = {
      {{0, 0}, 0},  {{0, 1}, 1},  {{0, 2}, 3},  {{0, 3}, 3},  // inside the pair: its start
      {{0, 4}, 7},  {{0, 5}, 8},  {{0, 99}, 8},               // past the end: before CR LF
      {{1, 0}, 10}, {{1, 2}, 12}, {{1, 5}, 12},               // a lone CR ends the line
      {{2, 1}, 14}, {{2, 2}, 15},                             // an invalid byte is one unit
      {{3, 0}, 17}, {{9, 0}, 36}, {{-1, 4}, 0}, {{3, 1}, 20}, {{3, 2}, 23}, {{3, 3}, 26},
      {{3, 4}, 27}, {{3, 5}, 27}, {{3, 6}, 31}, {{3, 8}, 35}, {{3, 9}, 36}, {{3, 99}, 36},
  };
  const TextLines lines(text);
  EXPECT_EQ(lines.lineCount(), 4u);
  for (const Case& c : cases) {
    EXPECT_EQ(offsetOf(lines, c.position), c.offset)
        << c.position.line << ":" << c.position.character;
  }
  struct Back {
    std::size_t offset;
    TextPosition position;
  } backs[] = {{0, {0, 0}},  {3, {0, 2}},  {5, {0, 2}},  {7, {0, 4}},  {9, {0, 5}},
               {16, {2, 3}}, {20, {3, 1}}, {26, {3, 3}}, {29, {3, 4}}, {35, {3, 8}}};
  for (const Back& b : backs)
    EXPECT_EQ(positionOf(lines, b.offset), b.position) << b.offset;
}

TEST(LspPositions, IncrementalEditsApplyInOrder) {
  TextDocument document("<a>\r\n  \xF0\x9F\x98\x80<b/>\n</a>\n", 1);
  struct Edit {
    std::optional<TextRange> range;
    std::string text;
    std::string expected;
  } edits[] = {
      {TextRange{{1, 4}, {1, 4}}, "x", "<a>\r\n  \xF0\x9F\x98\x80x<b/>\n</a>\n"},
      {TextRange{{0, 2}, {1, 2}}, "", "<a\xF0\x9F\x98\x80x<b/>\n</a>\n"},
      {TextRange{{1, 0}, {0, 4}}, "-", "<a\xF0\x9F\x98\x80-</a>\n"},  // ends swapped
      {TextRange{{5, 0}, {6, 0}}, "<c/>", "<a\xF0\x9F\x98\x80-</a>\n<c/>"},
      {std::nullopt, "all new", "all new"},
  };
  for (const Edit& edit : edits) {
    document.change(edit.range, edit.text);
    EXPECT_EQ(document.text(), edit.expected);
  }
}

// Paths to URIs and back: the unreserved ranges kept, everything else escaped; an escape at the
// very end of a URI decoded, an incomplete one kept as written.
TEST(LspUris, EscapedAndDecoded) {
  EXPECT_EQ(uriOfPath("/09AZaz-._~/a b:@[`{\xE2\x82\xAC"),
            "file:///09AZaz-._~/a%20b%3A%40%5B%60%7B%E2%82%AC");
  const std::pair<const char*, const char*> paths[] = {
      {"file:///d/x%41", "/d/xA"},      {"file:///d/x%4", "/d/x%4"},
      {"file:///d/x%", "/d/x%"},        {"file:///d/a%20b%3a", "/d/a b:"},
      {"file://localhost/d/x", "/d/x"}, {"file:///d/%E2%82%AC", "/d/\xE2\x82\xAC"},
  };
  for (const auto& [uri, path] : paths)
    EXPECT_EQ(pathOfUri(uri).value_or("-"), path) << uri;
  EXPECT_EQ(pathOfUri("http://x/y"), std::nullopt);
  EXPECT_EQ(pathOfUri("file://host"), std::nullopt);
}

// A server whose messages are collected.
struct TestServer {
  explicit TestServer(ServerSetup setupGiven = {})
      : setup(std::move(setupGiven)),
        server(setup, [this](const std::string& body) { sent.push_back(json::parse(body)); }) {}

  // Sends a message and returns what the server sent back.
  std::vector<json> send(const json& message) {
    sent.clear();
    server.receive(message.dump());
    server.settle();
    return sent;
  }
  std::vector<json> raw(std::string_view body) {
    sent.clear();
    server.receive(body);
    server.settle();
    return sent;
  }
  void initialize(json params = json::object()) {
    send({{"jsonrpc", "2.0"}, {"id", 0}, {"method", "initialize"}, {"params", params}});
  }

  ServerSetup setup;
  std::vector<json> sent;
  Server server;
};

int errorCode(const std::vector<json>& replies) {
  if (replies.size() != 1 || !replies[0].contains("error")) return 0;
  return replies[0]["error"]["code"].get<int>();
}

TEST(LspServer, AnswersWhatItCannotServeWithErrors) {
  TestServer server;
  const json hoverClosed = {
      {"jsonrpc", "2.0"},
      {"id", 5},
      {"method", "textDocument/hover"},
      {"params",
       {{"textDocument", {{"uri", "file:///nowhere.xml"}}}, {"position", {{"line", 0}}}}}};
  EXPECT_EQ(errorCode(server.raw("{not json")), rpc::kParseError);
  EXPECT_EQ(errorCode(server.send(hoverClosed)), rpc::kServerNotInitialized);
  EXPECT_TRUE(server.send({{"jsonrpc", "2.0"}, {"method", "textDocument/didOpen"}}).empty());
  server.initialize();
  struct Case {
    json message;
    int code;  // 0: no response at all
  } cases[] = {
      {{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "no/such"}}, rpc::kMethodNotFound},
      {{{"jsonrpc", "2.0"}, {"method", "no/such"}}, 0},
      {json::array({1, 2}), rpc::kInvalidRequest},
      {{{"jsonrpc", "2.0"}, {"id", {{"x", 1}}}, {"method", "shutdown"}}, rpc::kInvalidRequest},
      {{{"jsonrpc", "2.0"}, {"id", 2}, {"method", 7}}, rpc::kInvalidRequest},
      {{{"jsonrpc", "2.0"}, {"id", 3}, {"result", 7}}, 0},
      {{{"jsonrpc", "2.0"}, {"id", 4}, {"method", "initialize"}}, rpc::kInvalidRequest},
      {hoverClosed, rpc::kInvalidParams},
      {{{"jsonrpc", "2.0"},
        {"id", 6},
        {"method", "xmlpp/preview"},
        {"params", {{"textDocument", 3}}}},
       rpc::kInvalidParams},
      {{{"jsonrpc", "2.0"}, {"method", "textDocument/didChange"}, {"params", {{"x", 1}}}}, 0},
      {{{"jsonrpc", "2.0"}, {"method", "$/cancelRequest"}, {"params", {{"x", 1}}}}, 0},
      {{{"jsonrpc", "2.0"}, {"method", "$/cancelRequest"}, {"params", {{"id", 1}}}}, 0},
  };
  for (const Case& c : cases) {
    const std::vector<json> replies = server.send(c.message);
    if (c.code == 0) {
      EXPECT_TRUE(replies.empty()) << c.message;
    } else {
      EXPECT_EQ(errorCode(replies), c.code) << c.message;
    }
  }
  // Parameters nested deeper than any recursion could follow.
  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  EXPECT_EQ(errorCode(server.raw(R"({"jsonrpc":"2.0","id":7,"method":"textDocument/hover",)"
                                 R"("params":)" +
                                 deep + "}")),
            rpc::kInvalidParams);
  EXPECT_FALSE(server.server.exited());
  EXPECT_EQ(server.send({{"jsonrpc", "2.0"}, {"id", 9}, {"method", "shutdown"}})[0]["result"],
            nullptr);
  EXPECT_EQ(errorCode(server.send(hoverClosed)), rpc::kInvalidRequest);
  server.send({{"jsonrpc", "2.0"}, {"method", "exit"}});
  EXPECT_TRUE(server.server.exited());
  EXPECT_EQ(server.server.exitStatus(), 0);

  TestServer abrupt;
  abrupt.initialize();
  abrupt.send({{"jsonrpc", "2.0"}, {"method", "exit"}});
  EXPECT_TRUE(abrupt.server.exited());
  EXPECT_EQ(abrupt.server.exitStatus(), 1);
}

TEST(LspServer, TextWithInvalidUtf8IsSentEscaped) {
  // A stray byte is written as the four characters \xFF in every string of the message; valid
  // text, and messages without stray bytes, go out as they are.
  EXPECT_EQ(jsonText(json{{"m",
                           "a\xFF"
                           "b"},
                          {"k", {"\xC3\xA9", 1}}}),
            "{\"k\":[\"\xC3\xA9\",1],\"m\":\"a\\\\xFFb\"}");
  EXPECT_EQ(jsonText(json{{"m", "caf\xC3\xA9"}}), "{\"m\":\"caf\xC3\xA9\"}");
  // A stray byte anywhere in a long string: in the first eight bytes, after them, at the end.
  for (const std::size_t at : {0u, 7u, 8u, 13u, 16u, 23u}) {
    std::string text(24, 'x');
    text[at] = '\xFF';
    std::string escaped = text;
    escaped.replace(at, 1, "\\\\xFF");
    EXPECT_EQ(jsonText(json{{"m", text}}), "{\"m\":\"" + escaped + "\"}") << at;
  }
}

json notificationFor(const std::vector<json>& sent, const std::string& uri) {
  for (const json& message : sent) {
    if (message.value("method", "") == "textDocument/publishDiagnostics" &&
        message["params"]["uri"] == uri) {
      return message["params"]["diagnostics"];
    }
  }
  return nullptr;
}

json openMessage(const std::string& uri, const std::string& text) {
  json message = {{"jsonrpc", "2.0"}, {"method", "textDocument/didOpen"}};
  message["params"]["textDocument"] = {{"uri", uri}, {"version", 1}, {"text", text}};
  return message;
}

json request(const std::string& method, const std::string& uri, int line, int character) {
  return {{"jsonrpc", "2.0"},
          {"id", 1},
          {"method", method},
          {"params",
           {{"textDocument", {{"uri", uri}}},
            {"position", {{"line", line}, {"character", character}}}}}};
}

TEST(LspServer, RunsTheCommandThatIncludesAnOpenFile) {
  TempDir dir("lsp-session");
  const std::string root = dir.path().string();
  std::filesystem::create_directories(dir.path() / "build");
  std::ofstream(dir.path() / "main.xml") << "<root>\n  <define name=\"A\" value=\"alpha\"/>\n"
                                            "  <include filename=\"part.xml\"/>\n"
                                            "  <xmlput name=\"frag\"/>\n"
                                            "  <item v=\"$(A)\" b=\"$(BOARD)\"/>\n"
                                            "  <if BOARD=\"evb\"><k/></if>\n"
                                            "  <for index=\"i\" start=\"0\" end=\"2\" "
                                            "incr=\"1\"><r n=\"$(i)\"/></for>\n"
                                            "  <xmldef name=\"frag\"><later/></xmldef>\n</root>\n";
  const std::string part =
      "<part x=\"$(A)\">\n  <xmldef name=\"frag\"><f b=\"$(BOARD)\"/></xmldef>\n"
      "  <u y=\"$(MISSING)\"/>\n</part>\n";
  std::ofstream(dir.path() / "part.xml") << part;
  std::ofstream(dir.path() / "other.xml") << "<o v=\"$(NOPE)\"/>\n";
  std::ofstream(dir.path() / "build" / "xmlpp_commands.json")
      << json::array({{{"directory", root},
                       {"file", root + "/main.xml"},
                       {"output", root + "/out.xml"},
                       {"arguments", {"xmlpp", "main.xml", "out.xml", "BOARD=evb"}}}});
  TestServer server(ServerSetup{"/usr", ""});
  server.initialize({{"rootUri", uriOfPath(root)}});
  const std::string partUri = uriOfPath(root + "/part.xml");
  const std::string mainUri = uriOfPath(root + "/main.xml");

  // The included file, opened, is run through the command that includes it.
  std::vector<json> sent = server.send(openMessage(partUri, part));
  const json diagnostics = notificationFor(sent, partUri);
  ASSERT_EQ(diagnostics.size(), 1u) << diagnostics;
  EXPECT_EQ(diagnostics[0]["code"], "unresolved-macro");
  EXPECT_EQ(diagnostics[0]["range"]["start"], json({{"line", 2}, {"character", 8}}));
  EXPECT_EQ(diagnostics[0]["range"]["end"], json({{"line", 2}, {"character", 18}}));
  EXPECT_EQ(diagnostics[0]["relatedInformation"][0]["location"]["uri"], mainUri);
  EXPECT_EQ(diagnostics[0]["relatedInformation"][0]["location"]["range"]["start"]["line"], 2);
  EXPECT_EQ(diagnostics[0]["relatedInformation"][0]["message"], "included from here");

  // The unsaved buffer is what the run reads: the warning goes, and the buffer's value shows.
  const json range = {{"start", {{"line", 2}, {"character", 8}}},
                      {"end", {{"line", 2}, {"character", 18}}}};
  json change = {{"jsonrpc", "2.0"}, {"method", "textDocument/didChange"}};
  change["params"]["textDocument"] = {{"uri", partUri}, {"version", 2}};
  change["params"]["contentChanges"] = json::array({{{"range", range}, {"text", "$(A)"}}});
  sent = server.send(change);
  EXPECT_EQ(notificationFor(sent, partUri), json::array());
  sent = server.send(request("textDocument/hover", partUri, 2, 11));
  EXPECT_NE(
      sent.at(0)["result"]["contents"]["value"].get<std::string>().find("`alpha` from a define"),
      std::string::npos)
      << sent.at(0);

  // A reference to a command-line macro, and a fragment's definition in another file.
  server.send(openMessage(mainUri, readFile(dir.path() / "main.xml")));
  sent = server.send(request("textDocument/hover", mainUri, 4, 21));
  EXPECT_NE(sent.at(0)["result"]["contents"]["value"].get<std::string>().find(
                "`evb` from the macro list"),
            std::string::npos)
      << sent.at(0);
  // A condition: the value tested and the decision; a loop variable: each value it took.
  sent = server.send(request("textDocument/hover", mainUri, 5, 6));
  std::string shown = sent.at(0)["result"]["contents"]["value"];
  EXPECT_NE(shown.find("`evb` from the macro list"), std::string::npos) << shown;
  EXPECT_NE(shown.find("<if>: taken"), std::string::npos) << shown;
  sent = server.send(request("textDocument/hover", mainUri, 6, 52));
  shown = sent.at(0)["result"]["contents"]["value"];
  EXPECT_NE(shown.find("- `0` from a loop at main.xml:7\n- `1` from a loop"), std::string::npos)
      << shown;
  // A loop variable's definition is its loop; references without a context leave out the
  // declaration (the define): three uses, one on the included file's root.
  sent = server.send(request("textDocument/definition", mainUri, 6, 52));
  ASSERT_EQ(sent.at(0)["result"].size(), 1u) << sent.at(0);
  EXPECT_EQ(sent.at(0)["result"][0]["range"]["start"], json({{"line", 6}, {"character", 3}}));
  sent = server.send(request("textDocument/references", mainUri, 4, 12));
  ASSERT_EQ(sent.at(0)["result"].size(), 3u) << sent.at(0);
  EXPECT_EQ(sent.at(0)["result"][1]["range"]["start"], json({{"line", 0}, {"character", 9}}));
  sent = server.send(request("textDocument/definition", mainUri, 3, 17));
  // The fragment put is the one defined before the xmlput, not the later one of the same name.
  EXPECT_EQ(sent.at(0)["result"].size(), 1u) << sent.at(0);
  EXPECT_EQ(sent.at(0)["result"][0]["uri"], partUri);
  EXPECT_EQ(sent.at(0)["result"][0]["range"]["start"], json({{"line", 1}, {"character", 3}}));
  sent = server.send(request("xmlpp/preview", mainUri, 0, 0));
  EXPECT_NE(sent.at(0)["result"]["text"].get<std::string>().find("<f b=\"evb\" />"),
            std::string::npos);

  // A finding about an attribute is located on its value.
  const std::string loneUri = uriOfPath(root + "/lone.xml");
  sent = server.send(
      openMessage(loneUri, "<r>\n  <ifdef name=\"X\" extra=\"1\"><a/></ifdef>\n</r>\n"));
  const json lone = notificationFor(sent, loneUri);
  ASSERT_EQ(lone.size(), 1u) << lone;
  EXPECT_EQ(lone[0]["code"], "unread-attribute");
  EXPECT_EQ(lone[0]["range"]["start"], json({{"line", 1}, {"character", 25}}));
  EXPECT_EQ(lone[0]["range"]["end"], json({{"line", 1}, {"character", 26}}));
  // Closed, a file no command covers loses its diagnostics.
  json close = {{"jsonrpc", "2.0"}, {"method", "textDocument/didClose"}};
  close["params"]["textDocument"] = {{"uri", loneUri}};
  EXPECT_EQ(notificationFor(server.send(close), loneUri), json::array());

  // A variable of a loop the run never went through is still found by its name: its loop.
  const std::string emptyUri = uriOfPath(root + "/empty-loop.xml");
  server.send(openMessage(emptyUri,
                          "<r>\n  <for index=\"i\" start=\"0\" end=\"0\" "
                          "incr=\"1\"><e v=\"$(i)\"/></for>\n</r>\n"));
  sent = server.send(request("textDocument/definition", emptyUri, 1, 52));
  ASSERT_EQ(sent.at(0)["result"].size(), 1u) << sent.at(0);
  EXPECT_EQ(sent.at(0)["result"][0]["range"]["start"], json({{"line", 1}, {"character", 3}}));

  // A file no command covers runs alone, and its undefined macros are not reported.
  const std::string otherUri = uriOfPath(root + "/other.xml");
  sent = server.send(openMessage(otherUri, "<o v=\"$(NOPE)\"/>\n"));
  EXPECT_EQ(notificationFor(sent, otherUri), json::array());
}

}  // namespace

// A finding with a certain repair is offered as a quick fix whose edit is the repair, its range
// in UTF-16 units: a misspelled directive's two tags, an attribute after a four-byte character.
TEST(LspServer, CodeActionsRepairFindings) {
  TempDir dir("lsp-fix");
  const std::string root = dir.path().string();
  const std::string text =
      "<r>\n  <Define name=\"X\" value=\"1\"></Define>\n  <ifdef v=\"\xF0\x9F\x98\x80\" "
      "nmae=\"X\"/>\n  <u v=\"$(BORD)\"/>\n</r>\n";
  std::ofstream(dir.path() / "main.xml") << text;
  std::ofstream(dir.path() / "xmlpp_commands.json")
      << json::array({{{"directory", root},
                       {"file", "main.xml"},
                       {"arguments", {"xmlpp", "main.xml", "out.xml", "BOARD=1"}}}});
  TestServer server(ServerSetup{"/usr", ""});
  server.initialize({{"rootUri", uriOfPath(root)}});
  const std::string uri = uriOfPath(root + "/main.xml");
  server.send(openMessage(uri, text));
  json ask = request("textDocument/codeAction", uri, 0, 0);
  ask["params"].erase("position");
  ask["params"]["range"] = {{"start", {{"line", 0}, {"character", 0}}},
                            {"end", {{"line", 4}, {"character", 0}}}};
  ask["params"]["context"] = {{"diagnostics", json::array()}};
  const json actions = server.send(ask).at(0)["result"];
  ASSERT_EQ(actions.size(), 3u) << actions;
  const auto edit = [](int line, int from, int to, const char* text) {
    return json{{"range",
                 {{"start", {{"line", line}, {"character", from}}},
                  {"end", {{"line", line}, {"character", to}}}}},
                {"newText", text}};
  };
  EXPECT_EQ(actions[0]["title"], "Write define");
  EXPECT_EQ(actions[0]["kind"], "quickfix");
  EXPECT_EQ(actions[0]["edit"]["changes"][uri],
            json::array({edit(1, 3, 9, "define"), edit(1, 31, 37, "define")}));
  EXPECT_EQ(actions[1]["edit"]["changes"][uri], json::array({edit(2, 16, 20, "name")}));
  EXPECT_EQ(actions[0]["isPreferred"], true);
  // A reference near a defined name: offered, not preferred (another build may define it).
  EXPECT_EQ(actions[2]["edit"]["changes"][uri], json::array({edit(3, 10, 14, "BOARD")}));
  EXPECT_EQ(actions[2]["isPreferred"], false);
}

TEST(LspServer, EditsThatArriveTogetherAreRunOnce) {
  TempDir dir("lsp-settle");
  const std::string uri = uriOfPath(dir.path().string() + "/a.xml");
  TestServer server;
  server.initialize({{"rootUri", uriOfPath(dir.path().string())}});
  auto edit = [&](int version, const std::string& text) {
    json change = {{"jsonrpc", "2.0"}, {"method", "textDocument/didChange"}};
    change["params"]["textDocument"] = {{"uri", uri}, {"version", version}};
    change["params"]["contentChanges"] = json::array({{{"text", text}}});
    return change.dump();
  };
  // Without a settle between them, an open and two edits publish nothing yet...
  server.sent.clear();
  server.server.receive(openMessage(uri, "<r><if/></r>").dump());
  server.server.receive(edit(2, "<r><ifdef nam=\"X\"/></r>"));
  server.server.receive(edit(3, "<r><ifdef name=\"X\"/></r>"));
  EXPECT_TRUE(server.sent.empty());
  // ...and the settle runs the last text once.
  server.server.settle();
  ASSERT_EQ(server.sent.size(), 1u);
  EXPECT_EQ(notificationFor(server.sent, uri), json::array());
  // A request runs what is unsettled before it answers.
  server.sent.clear();
  server.server.receive(edit(4, "<r><x a=\"1\"/></r>"));
  server.server.receive(request("xmlpp/preview", uri, 0, 0).dump());
  ASSERT_EQ(server.sent.size(), 2u);
  EXPECT_EQ(server.sent[1]["result"]["text"], "<r>\n  <x a=\"1\" />\n</r>\n");
}

TEST(LspServer, MacroCompletionOffersTheNamesInScopeAtTheTag) {
  TempDir dir("lsp-complete");
  const std::string uri = uriOfPath(dir.path().string() + "/a.xml");
  TestServer server;
  server.initialize({{"rootUri", uriOfPath(dir.path().string())}});
  // Line 2 is inside a foreach after a define; line 3 after the loop, in a scope that has
  // ended; the define inside <s> is gone again by then; line 4 is in a branch not taken.
  server.send(openMessage(uri,
                          "<r>\n  <define name=\"A\" value=\"1\"/>\n"
                          "  <foreach i=\"x,y\"><e v=\"$(\"/></foreach>\n"
                          "  <s><define name=\"B\" value=\"2\"/></s><g w=\"$(\"/>\n"
                          "  <ifdef name=\"NOPE\"><u w=\"$(\"/></ifdef>\n</r>\n"));
  auto offered = [&](int line, int character) {
    std::set<std::string> labels;
    const std::vector<json> sent =
        server.send(request("textDocument/completion", uri, line, character));
    for (const json& item : sent.at(0)["result"])
      labels.insert(item["label"].get<std::string>());
    return labels;
  };
  EXPECT_EQ(offered(2, 27), (std::set<std::string>{"A", "i"}));
  EXPECT_EQ(offered(3, 45), (std::set<std::string>{"A"}));
  // Where the run did not go, every name the run knows: those defined and the loop variables.
  EXPECT_EQ(offered(4, 29), (std::set<std::string>{"A", "B", "i"}));
  // The macro an ifdef names is shown on hover over its value.
  const std::vector<json> sent = server.send(request("textDocument/hover", uri, 4, 16));
  EXPECT_EQ(sent.at(0)["result"]["contents"]["value"],
            "**NOPE**\n- undefined here\n\n<ifdef>: not taken\n\n---\n"
            "run on its own: no build command reads this file")
      << sent.at(0);
}

TEST(LspTagText, OpenElementsAtAnOffset) {
  // Each text has "|" where the offset is; the names expected open there, outermost first.
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"<a><b/><c>|</c></a>", {"a", "c"}},
      {"<a><!-- <x> --><![CDATA[<y>]]><?p <z>?>|</a>", {"a"}},
      {"<a><b><c></b>|</a>", {"a"}},  // an end tag closes what is open inside it
      {"<a x=\"/>\"><b x='>'>|", {"a", "b"}},
      {"<a></a><d v=\"$(|\"/>", {"d"}},  // the tag being typed
      {"|<a>", {}},
  };
  for (const auto& [marked, expected] : cases) {
    const std::size_t offset = marked.find('|');
    const std::string text = marked.substr(0, offset) + marked.substr(offset + 1);
    std::vector<std::string> names;
    for (const std::size_t at : tagtext::openElementsAt(text, offset))
      names.emplace_back(tagtext::tagName(std::string_view(text).substr(at)));
    EXPECT_EQ(names, expected) << marked;
  }
}

// Lines holding three-byte characters before what is asked: the diagnostic's range, hover,
// definition and an incremental edit all count each of them as one unit.
TEST(LspServer, PositionsAfterThreeByteCharacters) {
  TempDir dir("lsp-utf8");
  const std::string uri = uriOfPath(dir.path().string() + "/a.xml");
  TestServer server;
  server.initialize({{"rootUri", uriOfPath(dir.path().string())}});
  const std::string euro = "\xE2\x82\xAC", dash = "\xE2\x80\x94";
  std::vector<json> sent = server.send(openMessage(
      uri, "<r>\n  <e t=\"" + euro + euro + "\"/><ifdef name=\"X\" extra=\"\"><a/></ifdef>\n" +
               "  <define name=\"A\" value=\"" + dash + "\"/>\n  <u v=\"" + euro + "$(A)\"/>\n" +
               "  <k t=\"" + euro + "\"/><xmldef name=\"f\"><x/></xmldef>\n" + "  <k t=\"" + euro +
               "\"/><xmlput name=\"f\"/>\n</r>\n"));
  const json found = notificationFor(sent, uri);
  ASSERT_EQ(found.size(), 1u) << found;
  // An empty value: the attribute's name.
  EXPECT_EQ(found[0]["range"]["start"], json({{"line", 1}, {"character", 29}}));
  EXPECT_EQ(found[0]["range"]["end"], json({{"line", 1}, {"character", 34}}));
  sent = server.send(request("textDocument/hover", uri, 3, 11));
  EXPECT_NE(sent.at(0)["result"]["contents"]["value"].get<std::string>().find("`" + dash + "`"),
            std::string::npos)
      << sent.at(0);
  sent = server.send(request("textDocument/definition", uri, 5, 26));
  ASSERT_EQ(sent.at(0)["result"].size(), 1u) << sent.at(0);
  EXPECT_EQ(sent.at(0)["result"][0]["range"]["start"], json({{"line", 4}, {"character", 13}}));
  // Removing ` extra=""` by its range ends the finding and leaves the rest of the line whole.
  json change = {{"jsonrpc", "2.0"}, {"method", "textDocument/didChange"}};
  change["params"]["textDocument"] = {{"uri", uri}, {"version", 2}};
  change["params"]["contentChanges"] = json::array(
      {{{"range",
         {{"start", {{"line", 1}, {"character", 28}}}, {"end", {{"line", 1}, {"character", 37}}}}},
        {"text", ""}}});
  EXPECT_EQ(notificationFor(server.send(change), uri), json::array());
  sent = server.send(request("xmlpp/preview", uri, 0, 0));
  EXPECT_EQ(sent.at(0)["result"]["text"],
            "<r>\n  <e t=\"&#xe2;&#x82;&#xac;&#xe2;&#x82;&#xac;\" />\n"
            "  <u v=\"&#xe2;&#x82;&#xac;&#xe2;&#x80;&#x94;\" />\n"
            "  <k t=\"&#xe2;&#x82;&#xac;\" />\n  <k t=\"&#xe2;&#x82;&#xac;\" />\n  <x/>\n</r>\n");
}

// The command database the server reads: the root's own, else that of the first immediate
// subfolder (in name order, hidden ones left out) that holds one, else none: the file runs alone,
// and the server tells the client so once it is initialized.
TEST(LspServer, ChoosesTheCommandDatabase) {
  const std::pair<std::vector<std::string>, std::string> layouts[] = {
      {{"build", ""}, ""},
      {{"build-s", "build-t", "build-q", "build-r"}, "build-q"},
      {{"other", "build2"}, "build2"},
      {{"out"}, "out"},
      {{".cache"}, "$(BOARD)"},
      {{}, "$(BOARD)"},
  };
  for (const auto& [folders, chosen] : layouts) {
    TempDir dir("lsp-database");
    const std::string root = dir.path().string();
    std::ofstream(dir.path() / "main.xml") << "<x v=\"$(BOARD)\"/>\n";
    for (const std::string& folder : folders) {
      std::filesystem::create_directories(dir.path() / folder);
      std::ofstream(dir.path() / folder / "xmlpp_commands.json")
          << json::array({{{"directory", root},
                           {"file", root + "/main.xml"},
                           {"output", root + "/out.xml"},
                           {"arguments", {"xmlpp", "main.xml", "out.xml", "BOARD=" + folder}}}});
    }
    TestServer server(ServerSetup{"/usr", ""});
    server.initialize({{"rootUri", uriOfPath(root)}});
    const std::vector<json> told =
        server.send({{"jsonrpc", "2.0"}, {"method", "initialized"}, {"params", json::object()}});
    const bool alone = chosen == "$(BOARD)";
    ASSERT_EQ(told.size(), alone ? 1u : 0u) << folders.size();
    if (alone) {
      EXPECT_EQ(told[0]["method"], "window/showMessage");
      EXPECT_EQ(told[0]["params"]["message"],
                "xmlpp: no command database (xmlpp_commands.json) in " + root +
                    " or its subfolders: each file runs on its own, without the build's macros");
    }
    const std::string uri = uriOfPath(root + "/main.xml");
    server.send(openMessage(uri, readFile(dir.path() / "main.xml")));
    const std::vector<json> sent = server.send(request("xmlpp/preview", uri, 0, 0));
    EXPECT_EQ(sent.at(0)["result"]["text"], "<x v=\"" + chosen + "\" />\n") << folders.size();
  }
  // A database given that cannot be read is shown too, with the reason.
  TempDir dir("lsp-database");
  TestServer server(ServerSetup{"/usr", ""});
  server.initialize({{"rootUri", uriOfPath(dir.path().string())},
                     {"initializationOptions", {{"commandDatabase", "missing.json"}}}});
  const std::vector<json> told =
      server.send({{"jsonrpc", "2.0"}, {"method", "initialized"}, {"params", json::object()}});
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0]["params"]["message"],
            "xmlpp: couldn't read " + dir.path().string() +
                "/missing.json: No such file or directory: each file runs on its own, without "
                "the build's macros");
}

// Three commands make main.xml (the last names its output only in its arguments): the first is
// used unless the "commands" option or an xmlpp/commands request picks another, asked from the
// input or from the file it includes; hover tells which was used.
TEST(LspServer, ChoosesAmongTheCommandsForOneInput) {
  struct Case {
    json options;
    std::string askedFrom;  // the document the request names
    std::string select;     // none: only the list is asked for
    std::string board;      // the value the run gave $(BOARD)
    std::size_t used;
    std::string hover;
  } cases[] = {
      {json::object(), "main.xml", "", "a", 0, "(1 of 3 commands for that input)"},
      {{{"commands", {{"main.xml", "out/b.xml"}}}}, "main.xml", "", "b", 1, "(2 of 3"},
      {json::object(), "main.xml", "out/c.xml", "c", 2, "(3 of 3"},
      {json::object(), "part.xml", "out/b.xml", "b", 1, "(2 of 3"},
      {json::object(), "main.xml", "out/z.xml", "a", 0, "(1 of 3"},
  };
  for (const Case& c : cases) {
    TempDir dir("lsp-choice");
    const std::string root = dir.path().string();
    std::filesystem::create_directories(dir.path() / "variants");
    std::ofstream(dir.path() / "main.xml")
        << "<x v=\"$(BOARD)\">\n<include filename=\"part.xml\"/>\n</x>\n";
    std::ofstream(dir.path() / "part.xml") << "<p b=\"$(BOARD)\"/>\n";
    json database = json::array();
    for (const std::string board : {"a", "b", "c"}) {
      json entry = {
          {"directory", root},
          {"file", "main.xml"},
          {"arguments", {"xmlpp", "main.xml", "out/" + board + ".xml", "BOARD=" + board}}};
      if (board != "c") entry["output"] = root + "/out/" + board + ".xml";
      database.push_back(entry);
    }
    std::ofstream(dir.path() / "variants" / "xmlpp_commands.json") << database;
    TestServer server(ServerSetup{"/usr", ""});
    server.initialize({{"rootUri", uriOfPath(root)}, {"initializationOptions", c.options}});
    const std::string mainUri = uriOfPath(root + "/main.xml");
    const std::string askedUri = uriOfPath(root + "/" + c.askedFrom);
    server.send(openMessage(mainUri, readFile(dir.path() / "main.xml")));
    if (c.askedFrom != "main.xml") {
      server.send(openMessage(askedUri, readFile(dir.path() / c.askedFrom)));
    }
    json ask = request("xmlpp/commands", askedUri, 0, 0);
    if (!c.select.empty()) ask["params"]["select"] = c.select;
    const std::vector<json> answer = server.send(ask);
    const std::string what = c.askedFrom + " " + c.select;
    if (c.select == "out/z.xml") {
      EXPECT_EQ(errorCode(answer), rpc::kInvalidParams) << what;
    } else {
      const json& result = answer.at(0)["result"];
      EXPECT_EQ(result["input"], root + "/main.xml") << what;
      ASSERT_EQ(result["commands"].size(), 3u) << result;
      for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(result["commands"][i]["output"], root + "/out/" + "abc"[i] + ".xml") << result;
        EXPECT_EQ(result["commands"][i]["used"], i == c.used) << what << result;
      }
    }
    std::vector<json> sent = server.send(request("xmlpp/preview", mainUri, 0, 0));
    EXPECT_EQ(sent.at(0)["result"]["text"],
              "<x v=\"" + c.board + "\">\n  <p b=\"" + c.board + "\" />\n</x>\n")
        << what;
    for (const std::string file : {"main.xml", "part.xml"}) {
      server.send(openMessage(uriOfPath(root + "/" + file), readFile(dir.path() / file)));
      sent = server.send(request("textDocument/hover", uriOfPath(root + "/" + file), 0, 8));
      const std::string shown = sent.at(0)["result"]["contents"]["value"];
      EXPECT_NE(shown.find("`" + c.board + "` from the macro list"), std::string::npos) << shown;
      EXPECT_NE(shown.find(c.hover), std::string::npos) << what << shown;
      EXPECT_NE(shown.find("build's command for `out/" + c.board + ".xml`"), std::string::npos)
          << shown;
      EXPECT_EQ(shown.find("from `main.xml`") != std::string::npos, file == "part.xml") << shown;
    }
  }
  // A command that cannot be run here (its macros file is missing) is listed, but not used; one
  // that writes standard output is named "-".
  TempDir dir("lsp-choice");
  const std::string root = dir.path().string();
  std::ofstream(dir.path() / "main.xml") << "<x/>\n";
  std::ofstream(dir.path() / "xmlpp_commands.json") << json::array(
      {{{"directory", root},
        {"file", "main.xml"},
        {"arguments", {"xmlpp", "--macros-file", "none.txt", "main.xml", "out.xml"}}},
       {{"directory", root}, {"file", "main.xml"}, {"arguments", {"xmlpp", "main.xml", "-"}}}});
  TestServer server(ServerSetup{"/usr", ""});
  server.initialize({{"rootUri", uriOfPath(root)}});
  const std::string uri = uriOfPath(root + "/main.xml");
  server.send(openMessage(uri, "<x/>\n"));
  const json listed = server.send(request("xmlpp/commands", uri, 0, 0)).at(0)["result"]["commands"];
  ASSERT_EQ(listed.size(), 2u) << listed;
  EXPECT_EQ(listed[0]["output"], root + "/out.xml");
  EXPECT_EQ(listed[0]["used"], false);
  EXPECT_EQ(listed[1]["output"], "-");
  EXPECT_EQ(listed[1]["used"], true);
}

// xmlpp/graph answers the run's graph, as --graph writes it and located; the call hierarchy shows
// a file's includes (outgoing) and includers (incoming), each with the include elements' ranges.
TEST(LspServer, GraphAndIncludesAsACallHierarchy) {
  TempDir dir("lsp-graph");
  const std::string root = dir.path().string();
  std::filesystem::create_directories(dir.path() / "inc");
  const std::string main =
      "<r b=\"$(BOARD)\">\n  <include filename=\"part.xml\"/>\n"
      "  <foreach x=\"1,2\"><include filename=\"part.xml\"/></foreach>\n"
      "  <include filename=\"lib.xml\"/>\n</r>\n";
  std::ofstream(dir.path() / "main.xml") << main;
  std::ofstream(dir.path() / "part.xml") << "<p/>\n";
  std::ofstream(dir.path() / "inc" / "lib.xml") << "<l/>\n";
  std::ofstream(dir.path() / "xmlpp_commands.json")
      << json::array({{{"directory", root},
                       {"file", "main.xml"},
                       {"arguments", {"xmlpp", "-I", "inc", "main.xml", "out.xml", "BOARD=a"}}}});
  TestServer server(ServerSetup{"/usr", ""});
  server.initialize({{"rootUri", uriOfPath(root)}});
  const std::string uri = uriOfPath(root + "/main.xml");
  server.send(openMessage(uri, main));
  const json graph = server.send(request("xmlpp/graph", uri, 0, 0)).at(0)["result"];
  EXPECT_EQ(graph["dot"].get<std::string>().rfind("digraph xmlpp {\n", 0), 0u) << graph;
  std::vector<std::string> kinds;
  for (const json& node : graph["nodes"])
    kinds.push_back(node["kind"]);
  EXPECT_EQ(kinds, (std::vector<std::string>{"input", "commandLine", "file", "file"})) << graph;
  const auto range = [](int line, int from, int to) {
    return json{{"start", {{"line", line}, {"character", from}}},
                {"end", {{"line", line}, {"character", to}}}};
  };
  // A file is located at its start, the input too; the command line nowhere.
  EXPECT_EQ(graph["nodes"][2]["location"],
            json({{"uri", uriOfPath(root + "/part.xml")}, {"range", range(0, 0, 0)}}));
  EXPECT_EQ(graph["nodes"][0]["location"]["range"], range(0, 0, 0));
  EXPECT_FALSE(graph["nodes"][1].contains("location"));
  // The commandLine's use, the include of part.xml at two places (one a loop's, met twice), and
  // the include of lib.xml through -I.
  ASSERT_EQ(graph["edges"].size(), 4u) << graph;
  EXPECT_EQ(graph["edges"][0]["names"], json::array({"BOARD"}));
  EXPECT_EQ(graph["edges"][2]["location"]["range"], range(2, 20, 27));
  EXPECT_EQ(graph["edges"][3]["includeDir"], root + "/inc");
  EXPECT_EQ(graph["edges"][3]["location"], json({{"uri", uri}, {"range", range(3, 3, 10)}}));

  const json items = server.send(request("textDocument/prepareCallHierarchy", uri, 1, 5));
  ASSERT_EQ(items.at(0)["result"].size(), 1u);
  const json item = items.at(0)["result"][0];
  EXPECT_EQ(item["uri"], uri);
  EXPECT_EQ(item["kind"], 1);  // a file
  EXPECT_EQ(item["name"], "main.xml");
  json ask = {{"jsonrpc", "2.0"}, {"id", 2}, {"method", "callHierarchy/outgoingCalls"}};
  ask["params"]["item"] = item;
  const json outgoing = server.send(ask).at(0)["result"];
  ASSERT_EQ(outgoing.size(), 2u) << outgoing;
  EXPECT_EQ(outgoing[0]["to"]["uri"], uriOfPath(root + "/part.xml"));
  EXPECT_EQ(outgoing[0]["fromRanges"], json::array({range(1, 3, 10), range(2, 20, 27)}));
  EXPECT_EQ(outgoing[1]["to"]["detail"], "inc/lib.xml");
  ask["method"] = "callHierarchy/incomingCalls";
  ask["params"]["item"] = outgoing[0]["to"];
  const json incoming = server.send(ask).at(0)["result"];
  ASSERT_EQ(incoming.size(), 1u) << incoming;
  EXPECT_EQ(incoming[0]["from"]["uri"], uri);
  EXPECT_EQ(incoming[0]["fromRanges"].size(), 2u);
  ask["params"] = json::object();
  EXPECT_EQ(errorCode(server.send(ask)), rpc::kInvalidParams);
}

namespace {

// The work budget: a run of exactly the budget's steps goes through; one step fewer stops it.
// Elements and references count one step, and a reference one more for each KiB of its value.
TEST(LspAnalysis, WorkBudgetStopsARunPastItsSteps) {
  struct Case {
    std::string text;
    std::uint64_t steps;
  };
  const auto defined = [](std::size_t bytes) {
    return "<r><define name=\"X\" value=\"" + std::string(bytes, 'x') + "\"/><a v=\"$(X)\"/></r>";
  };
  const Case cases[] = {
      {"<r><a v=\"$(X)\"/><b/></r>\n", 4},  // r, a and its reference, b
      {defined(1023), 4},                   // r, define, a and its reference
      {defined(1024), 5},
      {defined(3 * 1024 + 5), 7},
  };
  TempDir dir("lsp-budget");
  const std::string input = (dir.path() / "in.xml").string();
  RunSettings command;
  command.input = input;
  for (const Case& c : cases) {
    std::ofstream(input) << c.text;
    auto stopped = [&](std::uint64_t budget) {
      const ServerSetup setup{"/usr", "", budget};
      const auto analysis = analyze(setup, command, false, [](const std::string&) {
        return std::optional<std::string_view>();
      });
      return !analysis->diagnostics.empty() &&
             analysis->diagnostics.back().message.starts_with("the analysis stopped after");
    };
    std::uint64_t steps = 0;
    while (stopped(steps))
      ++steps;
    EXPECT_EQ(steps, c.steps) << c.text.size();
    EXPECT_FALSE(stopped(steps + 1));
  }
}

}  // namespace
