#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "xml/ByteSink.h"
#include "xml/SignalCleanup.h"
#include "xml/XMLDocument.h"

namespace {

// A compact rendering of a tree: name[attr=value,...](children) for elements, "text" for text,
// !comment! and {cdata}.
std::string dump(const XMLNode* node) {
  std::string out;
  switch (node->kind()) {
    case XMLNodeKind::Element: {
      auto* e = static_cast<const XMLElement*>(node);
      out += std::string(e->name());
      if (e->attributeCount()) {
        out += '[';
        for (std::uint32_t i = 0; i < e->attributeCount(); ++i) {
          const XMLAttribute& a = e->attributes()[i];
          if (i) out += ',';
          out += std::string(a.name) + (a.isNull() ? "~" : "=" + std::string(a.value));
        }
        out += ']';
      }
      if (e->firstChild) {
        out += '(';
        for (const XMLNode* c = e->firstChild; c; c = c->next)
          out += dump(c);
        out += ')';
      }
      break;
    }
    case XMLNodeKind::Data:
      out += '"' + std::string(static_cast<const XMLCharacterData*>(node)->text()) + '"';
      break;
    case XMLNodeKind::Comment:
      out += '!' + std::string(static_cast<const XMLCharacterData*>(node)->text()) + '!';
      break;
    case XMLNodeKind::CDATASection:
      out += '{' + std::string(static_cast<const XMLCharacterData*>(node)->text()) + '}';
      break;
  }
  return out;
}

struct ReaderCase {
  const char* input;
  bool keepText;
  const char* tree;  // dump of the root, "" for none
};

class ReaderTest : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderTest, BuildsTree) {
  const ReaderCase& c = GetParam();
  XMLDocument doc(c.keepText);
  ASSERT_TRUE(doc.loadText(c.input)) << doc.errorText;
  EXPECT_EQ(doc.root ? dump(doc.root) : "", c.tree) << c.input;
}

INSTANTIATE_TEST_SUITE_P(
    Leniencies, ReaderTest,
    ::testing::Values(
        ReaderCase{"", false, ""}, ReaderCase{"  \n ", false, ""}, ReaderCase{"x<a/>", false, ""},
        ReaderCase{"<a><b/>", false, ""}, ReaderCase{"<a/><b/>", false, "b"},
        ReaderCase{"<a b c='1'>", false, ""}, ReaderCase{"<a b c='1'/>", false, "a[c=1]"},
        ReaderCase{"<a b=c d='1'/>", false, "a[d=1]"},
        ReaderCase{"<a x='1' x=\"2\"/>", false, "a[x=2]"}, ReaderCase{"<abc></a>", false, "abc"},
        ReaderCase{"<a><b></></a>", false, "a(b)"},
        ReaderCase{"<a v='&lt;&#65;&#x42;&bogus;'/>", false, "a[v=<AB&bogus;]"},
        ReaderCase{"<a v='a&#;b'/>", false, "a[v=a]"},
        ReaderCase{"<a v='&#x4A;&#X41;'/>", false, "a[v=J\r]"},
        ReaderCase{"<a v='1&#12 ;'/>", false, "a[v=1&#12 ;]"},
        ReaderCase{"<a v='x\r\ny'>t\r\nu</a>", true, "a[v=x\r\ny](\"t\nu\")"},
        ReaderCase{"<a> <b/></a>", true, "a(\" \"b\"\")"},
        ReaderCase{"<a> <b/></a>", false, "a(b)"},
        ReaderCase{"<a><![CDATA[x<y]]></a>", false, "a({x<y})"},
        ReaderCase{"<a><![CDATA[x]]]>]]></a>", false, "a({x]]]>})"},
        ReaderCase{"<a><!-- c --></a>", true, "a(\"\"! c !\"\")"},
        ReaderCase{"<a><!-- c ---> --></a>", true, "a(\"\"! c ---> !\"\")"},
        ReaderCase{"<a><!-- never closed </a>", false, ""},
        ReaderCase{"<a><?pi stuff?><b/></a>", false, "a(b)"},
        ReaderCase{"\xEF\xBB\xBF<a/>", false, "a"}, ReaderCase{"<a/>\0<b/>", false, "a"},
        ReaderCase{"<?xml version='1.0'?><a/>", false, "a"},
        ReaderCase{"<?xml version=1.0?><a/>", false, ""},
        ReaderCase{"<?xml version='1.0'><a/>", false, "a"}, ReaderCase{"</x><a/>", false, "a"}));

TEST(Reader, DeclarationAndDoctype) {
  XMLDocument doc(false);
  ASSERT_TRUE(
      doc.loadText("<?xml version='1.0' encoding=\"UTF-8\" x='y'?>\n<!DOCTYPE project>\n<a/>"));
  EXPECT_EQ(doc.version.value_or("-"), "1.0");
  EXPECT_EQ(doc.encoding.value_or("-"), "UTF-8");
  EXPECT_EQ(doc.doctype.value_or("-"), "project");
  XMLDocument other(false);
  ASSERT_TRUE(other.loadText("<!DOCTYPE project SYSTEM 'x.dtd'><a/>"));
  EXPECT_FALSE(other.doctype);
  ASSERT_TRUE(other.loadText("<!DOC p><a/>"));
  EXPECT_EQ(other.doctype.value_or("-"), "p");
}

TEST(Reader, ErrorsCarryTheLine) {
  struct Case {
    const char* input;
    const char* message;
    int line;
  } cases[] = {
      {"<a 1='x'/>", "bad tagName", 0},
      {"<a>\n<b>\n<c 1='x'/>", "bad tagName", 2},
      {"\n<a 1='x'/>", "bad tagName", 0},
      {"<a>\n</abc\n\n>", "tagName mismatch", 3},
      {"\xEF\xBB\xBF\n<a 1='x'/>", "bad tagName", 0},
  };
  for (const Case& c : cases) {
    XMLDocument doc(false);
    EXPECT_FALSE(doc.loadText(c.input)) << c.input;
    EXPECT_EQ(doc.errorText, c.message) << c.input;
    EXPECT_EQ(doc.errorLine, c.line) << c.input;
  }
}

TEST(Reader, MissingFileAndDirectory) {
  XMLDocument doc(false);
  EXPECT_FALSE(doc.load("/nonexistent/in.xml"));
  EXPECT_EQ(doc.errorText, "couldn't read /nonexistent/in.xml");
  EXPECT_EQ(doc.errorLine, 0);
  EXPECT_FALSE(doc.load("/"));
  EXPECT_EQ(doc.errorText, "couldn't read /");
}

TEST(Reader, DeepAndWideDocumentsNeedNoStack) {
  constexpr int kDepth = 100000;
  std::string deep;
  for (int i = 0; i < kDepth; ++i)
    deep += "<a>";
  for (int i = 0; i < kDepth; ++i)
    deep += "</a>";
  XMLDocument doc(false);
  ASSERT_TRUE(doc.loadText(deep));
  int depth = 0;
  for (XMLNode* n = doc.root; n; n = n->firstChild)
    ++depth;
  EXPECT_EQ(depth, kDepth);
  XMLNode* copy = doc.copyNode(doc.root, nullptr);
  depth = 0;
  for (XMLNode* n = copy; n; n = n->firstChild)
    ++depth;
  EXPECT_EQ(depth, kDepth);

  // Many attributes on one element, repeated names keeping their first position.
  std::string many = "<a";
  for (int i = 0; i < 200000; ++i)
    many += " n" + std::to_string(i % 100000) + "='" + std::to_string(i) + "'";
  many += "/>";
  XMLDocument manyDoc(false);
  ASSERT_TRUE(manyDoc.loadText(many));
  ASSERT_EQ(manyDoc.root->attributeCount(), 100000u);
  EXPECT_EQ(manyDoc.root->attributes()[7].name, "n7");
  EXPECT_EQ(manyDoc.root->attributes()[7].value, "100007");

  std::string wide = "<r>";
  for (int i = 0; i < 1000000; ++i)
    wide += "<a/>";
  wide += "</r>";
  XMLDocument wideDoc(false);
  ASSERT_TRUE(wideDoc.loadText(wide));
  std::string out;
  wideDoc.write(out, 2, 0);
  EXPECT_EQ(out.size(), 4 + 7 * 1000000 + 5u);
}

TEST(Model, AttributesAndChains) {
  XMLDocument doc(false);
  XMLElement* e = doc.createElement("e");
  Arena& arena = doc.arena();
  e->setAttribute(arena, "a", "1", false);
  e->setAttribute(arena, "b", "", true);
  e->setAttribute(arena, "a", "2", false);
  EXPECT_EQ(dump(e), "e[a=2,b~]");
  EXPECT_EQ(e->attribute("b"), nullptr);
  EXPECT_TRUE(e->hasAttribute("b"));
  EXPECT_EQ(e->attribute("c"), nullptr);
  EXPECT_FALSE(e->hasAttribute("c"));
  e->removeAttribute("a");
  EXPECT_EQ(dump(e), "e[b~]");

  XMLElement* x = doc.createElement("x");
  XMLElement* y = doc.createElement("y");
  XMLElement* z = doc.createElement("z");
  e->appendChild(x);
  e->appendChild(y);
  e->removeChild(x);
  EXPECT_EQ(e->firstChild, y);
  EXPECT_EQ(x->next, y);  // a removed node keeps its links
  EXPECT_EQ(x->parent, e);
  e->prependChild(z);
  e->replaceChild(y, x);
  x->next = nullptr;
  EXPECT_EQ(dump(e), "e[b~](zx)");

  XMLElement* empty = doc.createElement("p");
  empty->insertAfter(z, doc.createElement("q"));  // no children: the chain becomes the children
  EXPECT_EQ(dump(empty), "p(q)");
  XMLElement* chain = doc.createElement("c1");
  chain->next = doc.createElement("c2");
  e->insertAfter(doc.createElement("stranger"), chain);  // not a child: after the last child
  EXPECT_EQ(dump(e), "e[b~](zxc1c2)");
  e->insertAfter(z, doc.createElement("m"));
  EXPECT_EQ(dump(e), "e[b~](zmxc1c2)");
  XMLNode* copy = doc.copyNode(e, empty);
  EXPECT_EQ(dump(empty), "p(qe[b~](zmxc1c2))");
  EXPECT_EQ(copy->parent, empty);
}

TEST(Writer, Layout) {
  struct Case {
    const char* input;
    std::uint32_t indent;
    std::uint32_t wrap;
    const char* output;
  } cases[] = {
      {"<?xml version='1.0' encoding='UTF-8'?><a/>", 2, 0,
       "<?xml  version=\"1.0\" encoding=\"UTF-8\" ?>\n<a/>\n"},
      {"<?xml encoding='x'?><a/>", 2, 0, "<?xml  encoding=\"x\" ?>\n<a/>\n"},
      {"<r><x k='v'/><y/></r>", 2, 0, "<r>\n  <x k=\"v\" />\n  <y/>\n</r>\n"},
      {"<r><x k='v'/><y/></r>", 0, 0, "<r><x k=\"v\" /><y/></r>"},
      {"<a v='a&lt;b &amp; &quot;c&quot;&#9;&#xc3;&gt;'/>", 2, 0,
       "<a v=\"a&lt;b &amp; &quot;c&quot;&#x9;&#xc3;&gt;\" />\n"},
      {"<r><e aa='1111' bb='2222'/></r>", 2, 20,
       "<r>\n  <e\n    aa=\"1111\"\n    bb=\"2222\" />\n</r>\n"},
      {"<r><e aa='1111'/></r>", 2, 5, "<r>\n  <e aa=\"1111\" />\n</r>\n"},
      {"<r><e aa='1' bb='2'/></r>", 2, 20, "<r>\n  <e aa=\"1\" bb=\"2\" />\n</r>\n"},
      {"<a><![CDATA[x]]><b/></a>", 2, 0, "<a>\n  <![CDATA[x]]>  <b/>\n</a>\n"},
      {"", 2, 0, ""},
  };
  for (const Case& c : cases) {
    XMLDocument doc(false);
    ASSERT_TRUE(doc.loadText(c.input));
    std::string out;
    doc.write(out, c.indent, c.wrap);
    EXPECT_EQ(out, c.output) << c.input;
  }
}

TEST(Writer, TextAndCommentNodes) {
  XMLDocument doc(true);
  // Kept text makes (possibly empty) text nodes; an element whose first child is text is written
  // on one line and its further children are dropped.
  ASSERT_TRUE(doc.loadText("<a><b>h\ti<c/></b><!--c--></a>"));
  std::string out;
  doc.write(out, 2, 0);
  EXPECT_EQ(out, "<a></a>\n");
  doc.root->firstChild = doc.root->firstChild->next;  // drop the empty text before <b>
  out.clear();
  doc.write(out, 2, 0);
  EXPECT_EQ(out, "<a>\n  <b>h&#x9;i</b>\n    <!--c-->  </a>\n");
}

TEST(Writer, NullValueStaysOnTheTagLine) {
  XMLDocument doc(false);
  ASSERT_TRUE(doc.loadText("<r><e aa='1111' bb='2222'/></r>"));
  auto* e = static_cast<XMLElement*>(doc.root->firstChild);
  e->setAttribute(doc.arena(), "n", "", true);
  std::string out;
  doc.write(out, 2, 20);
  EXPECT_EQ(out, "<r>\n  <e\n    aa=\"1111\"\n    bb=\"2222\" n=\"\" />\n</r>\n");
}

class SaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("xmlpp-save-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    chmod(dir_.c_str(), 0755);
    std::filesystem::remove_all(dir_);
  }
  static std::string read(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::filesystem::path dir_;
};

TEST_F(SaveTest, WritesAtomicallyAndThroughLinks) {
  XMLDocument doc(false);
  ASSERT_TRUE(doc.loadText("<a/>"));
  auto target = dir_ / "target.xml";
  std::ofstream(target) << "old";
  std::filesystem::create_symlink("target.xml", dir_ / "link.xml");
  ASSERT_TRUE(doc.save((dir_ / "link.xml").string(), 2, 0));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "link.xml"));
  EXPECT_EQ(read(target), "<a/>\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 2);  // no leftovers

  EXPECT_FALSE(doc.save("/dev/full", 2, 0));
  EXPECT_EQ(doc.errorText, "couldn't write /dev/full");
  EXPECT_TRUE(doc.save("/dev/null", 2, 0));
  EXPECT_FALSE(doc.save(dir_.string(), 2, 0));
  EXPECT_FALSE(doc.save((dir_ / "missing" / "x.xml").string(), 2, 0));
}

// Pieces of every size around the buffer's block, to a file and to memory: the bytes arrive whole
// and in order.
TEST_F(SaveTest, SinkKeepsEveryByteAcrossBlocks) {
  constexpr std::size_t kBlock = 1 << 20;
  const std::vector<std::size_t> sizes = {0,          1,     7,     kBlock - 1,    kBlock,
                                          kBlock + 1, 4096,  3,     3 * kBlock,    1,
                                          kBlock / 2, 12345, 65536, 2 * kBlock + 5};
  std::string expected;
  auto path = dir_ / "sink.bin";
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  {
    ByteSink toFile(fileno(file));
    ByteSink toMemory;
    char letter = 'a';
    for (std::size_t size : sizes) {
      std::string piece(size, letter);
      if (size) piece.back() = '|';
      expected += piece;
      toFile.append(piece);
      toMemory.append(piece);
      expected += std::string(size % 1000, ' ') + letter;
      toFile.spaces(size % 1000);
      toMemory.spaces(size % 1000);
      toFile.append(letter);
      toMemory.append(letter);
      letter = letter == 'z' ? 'a' : static_cast<char>(letter + 1);
    }
    toFile.spaces(kBlock + 3);
    toMemory.spaces(kBlock + 3);
    expected += std::string(kBlock + 3, ' ');
    EXPECT_TRUE(toFile.flush());
    EXPECT_EQ(toMemory.contents(), expected);
  }
  std::fclose(file);
  EXPECT_EQ(read(path), expected);
}

// A termination signal removes the registered temporary names (and only those) and still ends
// the process with that signal; one raised while the signals are held back takes effect only
// when they are released.
TEST_F(SaveTest, TerminationSignalRemovesRegisteredTemporaries) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    for (bool raiseWhileBlocked : {false, true}) {
      std::filesystem::remove_all(dir_);
      std::filesystem::create_directories(dir_);
      for (const char* name : {"registered", "unregistered", "other"})
        std::ofstream(dir_ / name) << name;
      pid_t pid = fork();
      if (pid == 0) {
        std::signal(signal, SIG_DFL);  // as the tool starts, whatever the test runner ignores
        int directory = open(dir_.c_str(), O_PATH | O_DIRECTORY);
        {
          TerminationSignalsBlocked blocked;
          registerTemporary(directory, "registered");
          unregisterTemporary(registerTemporary(directory, "unregistered"));
          if (raiseWhileBlocked) {
            raise(signal);
            std::ofstream(dir_ / "still-running") << "";
          }
        }
        raise(signal);
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      std::string label = std::to_string(signal) + (raiseWhileBlocked ? " blocked" : "");
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << label;
      EXPECT_FALSE(std::filesystem::exists(dir_ / "registered")) << label;
      EXPECT_TRUE(std::filesystem::exists(dir_ / "unregistered")) << label;
      EXPECT_TRUE(std::filesystem::exists(dir_ / "other")) << label;
      EXPECT_EQ(std::filesystem::exists(dir_ / "still-running"), raiseWhileBlocked) << label;
    }
  }
}

}  // namespace
