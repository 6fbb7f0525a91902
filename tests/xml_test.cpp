#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "files/OutputFile.h"
#include "xml/XMLDocument.h"

namespace {

// A compact rendering of a tree: name[attr=value,...](children) for elements, {cdata} for CDATA,
// "text" for kept text.
std::string dump(const XMLNode* node) {
  if (node->isText()) return '"' + std::string(static_cast<const XMLText*>(node)->text()) + '"';
  if (!node->isElement())
    return '{' + std::string(static_cast<const XMLCDATASection*>(node)->text()) + '}';
  auto* e = static_cast<const XMLElement*>(node);
  std::string out(e->name());
  if (e->attributeCount()) {
    out += '[';
    for (std::uint32_t i = 0; i < e->attributeCount(); ++i) {
      const XMLAttribute& a = e->attributes()[i];
      if (i) out += ',';
      out += std::string(a.name()) + (a.isNull() ? "~" : "=" + std::string(a.value()));
    }
    out += ']';
  }
  if (e->firstChild) {
    out += '(';
    for (const XMLNode* c = e->firstChild; c; c = c->next)
      out += dump(c);
    out += ')';
  }
  return out;
}

struct ReaderCase {
  const char* input;
  const char* tree;  // dump of the root, "" for none
};

class ReaderTest : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderTest, BuildsTree) {
  const ReaderCase& c = GetParam();
  XMLDocument doc;
  const Failure failure = doc.loadText(c.input);
  ASSERT_FALSE(failure) << failure->message;
  EXPECT_EQ(doc.root ? dump(doc.root) : "", c.tree) << c.input;
}

INSTANTIATE_TEST_SUITE_P(
    Leniencies, ReaderTest,
    ::testing::Values(
        ReaderCase{"", ""}, ReaderCase{"  \n ", ""}, ReaderCase{"x<a/>", ""},
        ReaderCase{"<a><b/>", ""}, ReaderCase{"<a/><b/>", "b"}, ReaderCase{"<a b c='1'>", ""},
        ReaderCase{"<a b c='1'/>", "a[c=1]"}, ReaderCase{"<a b=c d='1'/>", "a[d=1]"},
        ReaderCase{"<a x='1' x=\"2\"/>", "a[x=2]"}, ReaderCase{"<abc></a>", "abc"},
        ReaderCase{"<a><b></></a>", "a(b)"},
        ReaderCase{"<a v='&lt;&#65;&#x42;&bogus;'/>", "a[v=<AB&bogus;]"},
        ReaderCase{"<a v='a&#;b'/>", "a[v=a]"}, ReaderCase{"<a v='&#x4A;&#X41;'/>", "a[v=J\r]"},
        ReaderCase{"<a v='1&#12 ;'/>", "a[v=1&#12 ;]"},
        ReaderCase{"<a v='x\r\ny'>t\r\nu</a>", "a[v=x\r\ny]"},
        ReaderCase{"<a> <b/>text</a>", "a(b)"}, ReaderCase{"<a><![CDATA[x<y]]></a>", "a({x<y})"},
        ReaderCase{"<a><![CDATA[x]]]>]]></a>", "a({x]]]>})"},
        ReaderCase{"<a><!-- c --><b/></a>", "a(b)"},
        ReaderCase{"<a><!-- c ---> --><b/></a>", "a(b)"},
        ReaderCase{"<a><!-- never closed </a>", ""}, ReaderCase{"<a><?pi stuff?><b/></a>", "a(b)"},
        ReaderCase{"\xEF\xBB\xBF<a/>", "a"}, ReaderCase{"<a/>\0<b/>", "a"},
        ReaderCase{"<?xml version='1.0'?><a/>", "a"}, ReaderCase{"<?xml version=1.0?><a/>", ""},
        ReaderCase{"<?xml version='1.0'><a/>", "a"}, ReaderCase{"</x><a/>", "a"}));

// Kept text (XMLDocument::keepText) and what it leaves out, with the repairs recorded.
TEST(Reader, KeepsTextOnRequest) {
  using Kind = XMLDocument::Repair::Kind;
  struct Case {
    const char* input;
    const char* tree;
    std::vector<Kind> repairs;
  } cases[] = {
      {"<a>Main board</a>", "a(\"Main board\")", {}},
      {"<a>\n  two\n  lines \t\n</a>", "a(\"two\n  lines\")", {}},
      {"<a>  \n </a>", "a", {}},
      {"<a>&lt;&#x41;&amp;&#256;x</a>", "a(\"<A&\")", {Kind::ReferenceEndsValue}},
      {"<a>a <!-- c --> b <!-- d -->  </a>", "a(\"a \"\" b\"\"\")", {}},
      {"<a>x<b/>y<c/>z</a>", "a(bc)", {Kind::MixedText}},
      {"<a><b>in</b> after</a>", "a(b(\"in\"))", {Kind::MixedText}},
      {"<a>x<![CDATA[c]]></a>", "a({c})", {Kind::MixedText}},
      {"<a><![CDATA[c]]>y</a>", "a({c})", {Kind::MixedText}},
      {"<a>\n  <b/>\n</a>", "a(b)", {}},
      {"<a/>after", "a", {}},
  };
  for (const Case& c : cases) {
    XMLDocument doc;
    doc.keepText = true;
    doc.recordRepairs = true;
    ASSERT_FALSE(doc.loadText(c.input));
    EXPECT_EQ(doc.root ? dump(doc.root) : "", c.tree) << c.input;
    std::vector<Kind> kinds;
    for (const XMLDocument::Repair& repair : doc.repairs)
      kinds.push_back(repair.kind);
    EXPECT_EQ(kinds, c.repairs) << c.input;
  }
  // The mixed text is located at its first byte, and the text stays as read for line numbers.
  XMLDocument doc;
  doc.keepText = doc.recordRepairs = true;
  ASSERT_FALSE(doc.loadText("<r>\n <d>&#xa;t<e/></d>\n<f/></r>"));
  ASSERT_EQ(doc.repairs.size(), 1u);
  EXPECT_EQ(doc.lineAt(doc.repairs[0].at), 1);
  EXPECT_EQ(doc.columnAt(doc.repairs[0].at), 5);
  EXPECT_EQ(doc.lineOf(static_cast<const XMLElement*>(doc.root->firstChild->next)), 2);
}

// With utf8References a reference to a character above 0x7F gives its UTF-8 bytes; one to a
// code that is no character keeps its low byte (and is recorded).
TEST(Reader, Utf8References) {
  struct Case {
    const char* input;
    const char* value;
    bool recorded;
  } cases[] = {
      {"&#x7F;", "\x7F", false},
      {"&#x80;", "\xC2\x80", false},
      {"&#xe9;&#233;", "\xC3\xA9\xC3\xA9", false},
      {"&#x7FF;", "\xDF\xBF", false},
      {"&#x800;", "\xE0\xA0\x80", false},
      {"&#xFFFD;", "\xEF\xBF\xBD", false},
      {"&#xFFFE;", "\xFE", true},
      {"&#xDFFF;", "\xFF", true},
      {"&#x10000;", "\xF0\x90\x80\x80", false},
      {"&#x10FFFF;", "\xF4\x8F\xBF\xBF", false},
      {"&#x110041;", "A", true},
      {"&#x1000000000041;", "A", true},
      {"&#zz;x", "\xC6\x81x", false},  // letters are digits: 35 * 10 + 35 = 385
      {"a&#65536;b",
       "a\xF0\x90\x80\x80"
       "b",
       false},
  };
  for (const Case& c : cases) {
    XMLDocument doc;
    doc.utf8References = doc.recordRepairs = true;
    ASSERT_FALSE(doc.loadText("<a v='" + std::string(c.input) + "'/>"));
    EXPECT_EQ(doc.root->attribute("v"), c.value) << c.input;
    EXPECT_EQ(!doc.repairs.empty(), c.recorded) << c.input;
  }
}

TEST(Reader, DeclarationAndDoctype) {
  XMLDocument doc;
  ASSERT_FALSE(
      doc.loadText("<?xml version='1.0' encoding=\"UTF-8\" x='y'?>\n<!DOCTYPE project>\n<a/>"));
  EXPECT_EQ(doc.version.value_or("-"), "1.0");
  EXPECT_EQ(doc.encoding.value_or("-"), "UTF-8");
  EXPECT_EQ(doc.doctype.value_or("-"), "project");
  XMLDocument other;
  ASSERT_FALSE(other.loadText("<!DOCTYPE project SYSTEM 'x.dtd'><a/>"));
  EXPECT_FALSE(other.doctype);
  ASSERT_FALSE(other.loadText("<!DOC p><a/>"));
  EXPECT_EQ(other.doctype.value_or("-"), "p");
}

// Errors carry the line of the message (which does not count a line feed at the very start) and
// locate the error at its line as editors count it, and its column.
TEST(Reader, ErrorsCarryTheLine) {
  struct Case {
    const char* input;
    const char* message;
    int line;
    int editorLine;
    int column;
  } cases[] = {
      {"<a 1='x'/>", "bad tagName", 0, 0, 4},
      {"<a>\n<b>\n<c 1='x'/>", "bad tagName", 2, 2, 4},
      {"\n<a 1='x'/>", "bad tagName", 0, 1, 4},
      {"<a>\n</abc\n\n>", "tagName mismatch", 3, 3, 1},
      {"\xEF\xBB\xBF\n<a 1='x'/>", "bad tagName", 0, 1, 4},
      {"\n\n<a>\r\n<b></c>", "tagName mismatch", 2, 3, 7},
      // Carriage returns end lines for editors, alone or before a line feed; the message's own
      // line counts line feeds only.
      {"<a>\r<b>\r<c 1='x'/>", "bad tagName", 0, 2, 4},
      {"<a>\r\n\r<b></c>", "tagName mismatch", 1, 2, 7},
      {"<a>\n\r\r\n\n\r<b></c>", "tagName mismatch", 3, 5, 7},
  };
  for (const Case& c : cases) {
    XMLDocument doc;
    const Failure failure = doc.loadText(c.input);
    ASSERT_TRUE(failure) << c.input;
    EXPECT_EQ(failure->message,
              "load error " + std::string(c.message) + " at " + std::to_string(c.line))
        << c.input;
    ASSERT_EQ(failure->locations.size(), 1u) << c.input;
    EXPECT_EQ(failure->locations[0].line, c.editorLine) << c.input;
    EXPECT_EQ(failure->locations[0].column, c.column) << c.input;
  }
}

// The reader records what it repaired only when asked, each repair where it stands.
TEST(Reader, RepairsRecordedOnRequest) {
  const std::string_view text = "<a/>\n<r>\n <d>text</d><c v=x w='1' w='2'/><case></cas></r>";
  XMLDocument quiet;
  ASSERT_FALSE(quiet.loadText(text));
  EXPECT_TRUE(quiet.repairs.empty());
  XMLDocument doc;
  doc.recordRepairs = true;
  ASSERT_FALSE(doc.loadText(text));
  using Kind = XMLDocument::Repair::Kind;
  std::vector<Kind> kinds;
  for (const XMLDocument::Repair& repair : doc.repairs)
    kinds.push_back(repair.kind);
  EXPECT_EQ(kinds,
            (std::vector<Kind>{Kind::TextDropped, Kind::UnquotedAttribute, Kind::DuplicateAttribute,
                               Kind::OtherElementClosed, Kind::SeveralRoots}));
  ASSERT_EQ(doc.repairs.size(), 5u);
  EXPECT_EQ(doc.repairs[0].element, "d");
  EXPECT_EQ(doc.lineAt(doc.repairs[0].at), 2);
  EXPECT_EQ(doc.columnAt(doc.repairs[0].at), 5);
  EXPECT_EQ(doc.repairs[1].name, "v");
  EXPECT_EQ(doc.repairs[2].name, "w");
  EXPECT_EQ(doc.repairs[3].name, "cas");
  EXPECT_EQ(doc.repairs[3].element, "case");
  EXPECT_EQ(doc.repairs[4].element, "a");
  EXPECT_EQ(doc.repairs[4].name, "r");
  EXPECT_EQ(doc.columnAt(doc.repairs[4].at), 1);
}

// Elements know the column of their "<" in bytes from 1, after a line feed or a carriage return.
TEST(Reader, ElementColumns) {
  XMLDocument doc;
  ASSERT_FALSE(doc.loadText("<r>\r\n  <a/><b>\r\t<c/></b>\n</r>"));
  const auto* a = static_cast<const XMLElement*>(doc.root->firstChild);
  const auto* b = static_cast<const XMLElement*>(a->next);
  EXPECT_EQ(doc.columnOf(doc.root), 1);
  EXPECT_EQ(doc.columnOf(a), 3);
  EXPECT_EQ(doc.columnOf(b), 7);
  EXPECT_EQ(doc.columnOf(static_cast<const XMLElement*>(b->firstChild)), 2);
  EXPECT_EQ(doc.columnOf(doc.createElement("new")), 0);
}

// Elements know the line of their "<" as editors count it (copies share it), and a load says
// which element was still open where the text ended.
TEST(Reader, ElementLinesAndTheElementLeftOpen) {
  XMLDocument doc;
  ASSERT_FALSE(doc.loadText("\n<r>\r\n  <a/><b>\n\n<c/></b>\n</r>"));
  EXPECT_FALSE(doc.unclosed);
  std::vector<int> lines;
  for (XMLNode* n = doc.root->firstChild; n; n = n->next)
    lines.push_back(doc.lineOf(static_cast<XMLElement*>(n)));
  const auto* b = static_cast<XMLElement*>(doc.root->firstChild->next);
  lines.push_back(doc.lineOf(static_cast<XMLElement*>(b->firstChild)));
  lines.push_back(doc.lineOf(doc.copyElement(b)));
  EXPECT_EQ(doc.lineOf(doc.root), 1);
  EXPECT_EQ(lines, (std::vector<int>{2, 2, 4, 2}));
  // A carriage return alone ends a line too.
  XMLDocument cr;
  ASSERT_FALSE(cr.loadText("\r<r>\r\r  <a/><b>\r\n\r<c/></b>\r</r>"));
  const XMLNode* a = cr.root->firstChild;
  EXPECT_EQ((std::vector<int>{cr.lineOf(cr.root), cr.lineOf(static_cast<const XMLElement*>(a)),
                              cr.lineOf(static_cast<const XMLElement*>(a->next->firstChild))}),
            (std::vector<int>{1, 3, 5}));

  struct Case {
    const char* input;
    const char* open;  // null: none
    int line;
  } cases[] = {
      {"<r>\n <a>\n  <b/>", "a", 1}, {"<r/>\n<s>", "s", 1}, {"<r>\n<!-- <x> -->", "r", 0},
      {"<r/>", nullptr, 0},          {"", nullptr, 0},      {"<r/>\r\r<s>\r", "s", 2},
      {"<r/>\r\n<s>", "s", 1},
  };
  for (const Case& c : cases) {
    XMLDocument d;
    EXPECT_FALSE(d.loadText(c.input)) << c.input;
    ASSERT_EQ(d.unclosed.has_value(), c.open != nullptr) << c.input;
    if (!c.open) continue;
    EXPECT_EQ(d.unclosed->name, c.open) << c.input;
    EXPECT_EQ(d.unclosed->line, c.line) << c.input;
  }
}

// The line of an error at the very end of the input counts every line feed. Line feeds are
// counted eight bytes at a time with a byte-wise tail, so the last one falls in either part
// depending on the length: every length from 0 to 40 bytes of filler is tried.
TEST(Reader, ErrorAtTheEndCountsEveryLineFeed) {
  std::uint32_t seed = 7;
  for (int length = 0; length <= 40; ++length) {
    for (const char* tail : {"", "\n", " \n", "\n\n "}) {
      std::string text = "<r>";
      for (int i = 0; i < length; ++i) {
        seed = seed * 1103515245u + 12345u;
        text += (seed >> 16) % 3 == 0 ? '\n' : ' ';
      }
      text += "</b";
      text += tail;
      XMLDocument doc;
      const Failure failure = doc.loadText(text);
      ASSERT_TRUE(failure);
      EXPECT_EQ(failure->message, "load error tagName mismatch at " +
                                      std::to_string(std::count(text.begin(), text.end(), '\n')))
          << length << tail;
    }
  }
}

// A file that cannot be read has no position, and says why; as an include it keeps the document's
// root, and its message names the file.
TEST(Reader, MissingFileAndDirectory) {
  struct Case {
    const char* path;
    LoadRole role;
    const char* message;
    int systemError;
  } cases[] = {
      {"/nonexistent/in.xml", LoadRole::Input, "load error couldn't read /nonexistent/in.xml at 0",
       ENOENT},
      {"/", LoadRole::Input, "load error couldn't read / at 0", EISDIR},
      {"/nonexistent/in.xml", LoadRole::Include,
       "error \"couldn't read /nonexistent/in.xml\" in include file /nonexistent/in.xml line:0",
       ENOENT},
  };
  for (const Case& c : cases) {
    XMLDocument doc;
    ASSERT_FALSE(doc.loadText("<r/>"));
    const Failure failure = doc.load(c.path, c.role);
    ASSERT_TRUE(failure) << c.path;
    EXPECT_EQ(failure->message, c.message);
    EXPECT_EQ(failure->systemError, c.systemError) << c.path;
    EXPECT_TRUE(failure->locations.empty()) << c.path;
    EXPECT_TRUE(doc.root) << c.path;
  }
}

TEST(Reader, DeepAndWideDocumentsNeedNoStack) {
  constexpr int kDepth = 100000;
  std::string deep;
  for (int i = 0; i < kDepth; ++i)
    deep += "<a>";
  for (int i = 0; i < kDepth; ++i)
    deep += "</a>";
  XMLDocument doc;
  ASSERT_FALSE(doc.loadText(deep));
  int depth = 0;
  for (XMLNode* n = doc.root; n; n = n->firstChild)
    ++depth;
  EXPECT_EQ(depth, kDepth);
  XMLNode* copy = doc.copyElement(doc.root);
  depth = 0;
  for (XMLNode* n = copy; n; n = n->firstChild)
    ++depth;
  EXPECT_EQ(depth, kDepth);

  // Many attributes on one element, repeated names keeping their first position.
  std::string many = "<a";
  for (int i = 0; i < 200000; ++i)
    many += " n" + std::to_string(i % 100000) + "='" + std::to_string(i) + "'";
  many += "/>";
  XMLDocument manyDoc;
  ASSERT_FALSE(manyDoc.loadText(many));
  ASSERT_EQ(manyDoc.root->attributeCount(), 100000u);
  EXPECT_EQ(manyDoc.root->attributes()[7].name(), "n7");
  EXPECT_EQ(manyDoc.root->attributes()[7].value(), "100007");

  std::string wide = "<r>";
  for (int i = 0; i < 1000000; ++i)
    wide += "<a/>";
  wide += "</r>";
  XMLDocument wideDoc;
  ASSERT_FALSE(wideDoc.loadText(wide));
  std::string out;
  wideDoc.write(out);
  EXPECT_EQ(out.size(), 4 + 7 * 1000000 + 5u);
}

// Repeated names among few attributes: a repeat keeps the first position and takes the last
// value, whether or not other names of the tag look alike (same length, same last byte).
TEST(Model, RepeatedAttributeNames) {
  const struct {
    const char* tag;
    const char* attributes;
  } cases[] = {
      {"<e ab='1' cb='2'/>", "e[ab=1,cb=2]"},
      {"<e ab='1' cb='2' ab='3'/>", "e[ab=3,cb=2]"},
      {"<e ab='1' cb='2' cb='3' db='4'/>", "e[ab=1,cb=3,db=4]"},
      {"<e a='1' a='2' a='3'/>", "e[a=3]"},
      {"<e x='1' y='2' x1='3' y='4' x='5'/>", "e[x=5,y=4,x1=3]"},
      {"<e abcdefgh='1' abcdefgi='2' abcdefgh='3'/>", "e[abcdefgh=3,abcdefgi=2]"},
  };
  for (const auto& c : cases) {
    XMLDocument doc;
    ASSERT_FALSE(doc.loadText(c.tag));
    EXPECT_EQ(dump(doc.root), c.attributes) << c.tag;
  }
}

TEST(Model, AttributesAndCopies) {
  XMLDocument doc;
  ASSERT_FALSE(doc.loadText("<e a='1' a='2' b=''><![CDATA[c]]><x k='v'><y/></x></e>"));
  XMLElement* e = doc.root;
  e->attributes()[1] = XMLAttribute("b", std::string_view());  // a null value
  EXPECT_EQ(dump(e), "e[a=2,b~]({c}x[k=v](y))");
  EXPECT_EQ(e->attribute("a"), "2");
  EXPECT_EQ(e->attribute("b"), std::nullopt);
  EXPECT_TRUE(e->hasAttribute("b"));
  EXPECT_EQ(e->attribute("c"), std::nullopt);
  EXPECT_FALSE(e->hasAttribute("c"));
  XMLElement* copy = doc.copyElement(e);
  EXPECT_EQ(dump(copy), dump(e));
}

TEST(Writer, Layout) {
  struct Case {
    const char* input;
    const char* output;
  } cases[] = {
      {"<?xml version='1.0' encoding='UTF-8'?><a/>",
       "<?xml  version=\"1.0\" encoding=\"UTF-8\" ?>\n<a/>\n"},
      {"<?xml encoding='x'?><!DOCTYPE d><a/>", "<?xml  encoding=\"x\" ?>\n<!DOCTYPE d>\n<a/>\n"},
      {"<r><x k='v'/><y/></r>", "<r>\n  <x k=\"v\" />\n  <y/>\n</r>\n"},
      {"<a v='a&lt;b &amp; &quot;c&quot;&#9;&#xc3;&gt;'/>",
       "<a v=\"a&lt;b &amp; &quot;c&quot;&#x9;&#xc3;&gt;\" />\n"},
      {"<a><![CDATA[x]]><b/></a>", "<a>\n  <![CDATA[x]]>  <b/>\n</a>\n"},
      {"", ""},
      // Kept text, on its element's line, escaped as values are.
      {"<r><d k='v'>a\n\"b\"&amp;</d><e>x<!---->y</e></r>",
       "<r>\n  <d k=\"v\">a&#xa;&quot;b&quot;&amp;</d>\n  <e>xy</e>\n</r>\n"},
  };
  for (const Case& c : cases) {
    XMLDocument doc;
    doc.keepText = true;
    ASSERT_FALSE(doc.loadText(c.input));
    std::string out;
    doc.write(out);
    EXPECT_EQ(out, c.output) << c.input;
  }
  // A null value is written as an empty one.
  XMLDocument doc;
  ASSERT_FALSE(doc.loadText("<e n='x'/>"));
  doc.root->attributes()[0] = XMLAttribute("n", std::string_view());
  std::string out;
  doc.write(out);
  EXPECT_EQ(out, "<e n=\"\" />\n");
}

class SaveTest : public ::testing::Test {
 protected:
  TempDir temp_{"xmlpp-save"};
  const std::filesystem::path& dir_ = temp_.path();
};

TEST_F(SaveTest, WritesAtomicallyAndThroughLinks) {
  XMLDocument doc;
  ASSERT_FALSE(doc.loadText("<a/>"));
  auto target = dir_ / "target.xml";
  std::ofstream(target) << "old";
  std::filesystem::create_symlink("target.xml", dir_ / "link.xml");
  ASSERT_FALSE(doc.save((dir_ / "link.xml").string()));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "link.xml"));
  EXPECT_EQ(readFile(target), "<a/>\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 2);  // no leftovers

  const Failure full = doc.save("/dev/full");
  ASSERT_TRUE(full);
  EXPECT_EQ(full->message, "couldn't write /dev/full");
  EXPECT_EQ(full->systemError, ENOSPC);
  EXPECT_FALSE(doc.save("/dev/null"));
  EXPECT_TRUE(doc.save(dir_.string()));
  EXPECT_TRUE(doc.save((dir_ / "missing" / "x.xml").string()));
}

}  // namespace

// Loads with a sink that takes the children it is offered until `refuseAt` (-1: all), writing
// them with a PieceWriter: whatever it takes, and wherever the sink's part ends, the output is
// what a load without a sink writes, and so is the error.
namespace {

struct StreamCase {
  const char* name;
  const char* text;
};

class StreamingSink final : public ChildSink {
 public:
  StreamingSink(const XMLDocument& doc, std::string path, int refuseAt)
      : doc_(doc), path_(std::move(path)), refuseAt_(refuseAt) {}
  bool take(const XMLElement& root, const XMLNode& child) override {
    if (offered_++ == refuseAt_) return false;
    if (!writer_) {
      file_ = std::make_unique<OutputFile>();
      if (!file_->openTemporary(path_)) return false;
      writer_ = std::make_unique<PieceWriter>(*file_, WriteOptions{});
      writer_->start(doc_, doc_.doctype, root);
    }
    return writer_->child(child);
  }
  // An element named "stop" ends the sink's part as its start tag is read.
  bool admits(const XMLElement& element) override { return element.name() != "stop"; }
  // What the load wrote: the file the sink completes, or else the document written whole.
  std::string written(XMLDocument& doc) {
    std::string text;
    if (!writer_) {
      doc.write(text);
      return text;
    }
    EXPECT_FALSE(writer_->finish(*doc.root));
    EXPECT_FALSE(file_->replace());
    return readFile(path_);
  }
  void drop() override {
    writer_.reset();
    file_.reset();
    ++drops_;
  }
  const XMLDocument& doc_;
  std::string path_;
  int refuseAt_;
  int offered_ = 0;
  int drops_ = 0;
  std::unique_ptr<OutputFile> file_;
  std::unique_ptr<PieceWriter> writer_;
};

// A text of `bytes` or more: children of every size (one larger than a window), comments, CDATA
// sections and text between them, `tail` after the last.
std::string largeText(std::size_t bytes, const std::string& tail) {
  std::string text = "\xEF\xBB\xBF<?xml version='1.0'?><!DOCTYPE big>\n<r a='&amp;'>";
  for (std::size_t i = 0; text.size() < bytes; ++i) {
    // Indentation before every child, and now and then a long run of text: a window ends in
    // text between children at every boundary.
    text += i % 500 == 499 ? "\n" + std::string(70000, 't') + "\n  " : "\n  ";
    switch (i % 7) {
      case 0:
        text += "<c i='" + std::to_string(i) + "' v='&amp;amp;'/>";
        break;
      case 1:
        text += " text <!-- a comment <x/> -->\n";
        break;
      case 2:
        text += "<![CDATA[ <not/> ]]>";
        break;
      case 3:
        text += "<d><e f='" + std::string(i % 5000, 'x') + "'/></d>";
        break;
      default:
        text += "<g>" + std::string(i % 300, ' ') + "<h/></g>";
    }
    if (i == 5000) text += "<big>" + std::string(1500000, ' ') + "<in/></big>";
  }
  return text + tail;
}

}  // namespace

TEST(Reader, ChildrenTakenThroughWindowsWriteTheSameDocument) {
  struct Tail {
    std::string text;
    bool streams;  // whether the children stay taken
  };
  const Tail tails[] = {
      {"</r>", true},
      {"</r>  <!-- end -->  ", true},
      {"</r><!-- a -->" + std::string(1500000, ' ') + "<!-- after a window of blanks -->", true},
      {"</r><second/>", false},
      {"<d/>", false},                         // never closed
      {"<c/></q>", false},                     // an error at the end
      {"<?xml encoding='late'?></r>", false},  // a declaration inside
      {"<c v='&#0;'/></r>", true},             // a reference to byte 0
      {"</r><?xml version=1?>", false},        // a declaration that ends the text
  };
  TempDir dir("xmlpp-windows");
  const std::string path = (dir.path() / "out.xml").string();
  const std::filesystem::path input = dir.path() / "in.xml";
  for (const Tail& tail : tails) {
    SCOPED_TRACE(tail.text.substr(0, 40));
    const std::string text = largeText(3 << 20, tail.text);
    XMLDocument plain;
    const Failure plainFailure = plain.loadText(text);
    std::string expected;
    plain.write(expected);
    std::filesystem::remove(path);
    std::ofstream(input, std::ios::binary) << text;
    XMLDocument doc;
    StreamingSink sink(doc, path, -1);
    const Failure failure = doc.load(input.string(), LoadRole::Input, &sink);
    ASSERT_EQ(failure.has_value(), plainFailure.has_value());
    if (failure) {
      EXPECT_EQ(failure->message, plainFailure->message);
      continue;
    }
    const std::string written = sink.written(doc);
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected);
    EXPECT_EQ(sink.drops_ == 0, tail.streams);
  }
  // An indented document: every window ends in the line break and indentation after a child,
  // or in a child, and never goes back over a child it took.
  {
    std::string indented = "<root>";
    for (int i = 0; i < 200000; ++i)
      indented += "\n  <a i=\"" + std::to_string(i) + "\"/>";
    indented += "\n</root>\n";
    std::ofstream(input, std::ios::binary) << indented;
    XMLDocument plain, doc;
    ASSERT_FALSE(plain.loadText(indented));
    std::string expected;
    plain.write(expected);
    std::filesystem::remove(path);
    StreamingSink sink(doc, path, -1);
    ASSERT_FALSE(doc.load(input.string(), LoadRole::Input, &sink));
    ASSERT_TRUE(sink.writer_);
    EXPECT_TRUE(sink.written(doc) == expected);
  }
  // A NUL byte ends the text wherever a window holds it.
  std::string text = largeText(3 << 20, "</r>");
  text.insert(text.size() / 2, 1, '\0');
  std::ofstream(input, std::ios::binary) << text;
  XMLDocument plain, doc;
  ASSERT_FALSE(plain.loadText(text));
  StreamingSink sink(doc, path, -1);
  ASSERT_FALSE(doc.load(input.string(), LoadRole::Input, &sink));
  EXPECT_EQ(doc.root, nullptr);
  EXPECT_EQ(plain.root, nullptr);
}

TEST(Reader, ChildrenTakenWhileReadingWriteTheSameDocument) {
  const StreamCase cases[] = {
      {"plain", "<?xml version='1'?><!DOCTYPE d><r a='1'><x b='&amp;amp;'/><y><z/></y></r>"},
      {"cdata", "<r><![CDATA[c]]><x/><![CDATA[d]]></r>"},
      {"second root", "<r><x/><y/></r><s><t/></s>"},
      {"unclosed root", "<r><x/><y/>"},
      {"unclosed tail", "<r><x/></r><s><t/>"},
      {"error after children", "<r><x/><y/></q>"},
      {"declaration inside", "<r><x/><?xml version='2'?><y/></r>"},
      {"declaration before child", "<r><?xml encoding='e'?><x/></r>"},
      {"doctype after", "<r><x v='&amp;lt;'/></r><!DOCTYPE late>"},
      {"references in place", "<r><x v='&amp;amp;'/><y v='&#38;#38;'/><z v='a&#10;b'/></r>"},
      {"childless", "<r a='1'/>"},
      {"refused deep inside", "<r><x/><y><z><stop/></z></y><w/></r>"},
      {"declaration ends the text", "<r><x/><y/></r><?xml encoding=z?>"},
      {"refused root", "<stop><x/><y/></stop>"},
  };
  TempDir dir("xmlpp-stream");
  const std::string path = (dir.path() / "out.xml").string();
  for (const StreamCase& c : cases) {
    XMLDocument plain;
    const Failure plainFailure = plain.loadText(c.text);
    std::string expected;
    plain.write(expected);
    for (int refuseAt = -1; refuseAt < 4; ++refuseAt) {
      SCOPED_TRACE(std::string(c.name) + ", refused at " + std::to_string(refuseAt));
      std::filesystem::remove(path);
      std::filesystem::path input = dir.path() / "in.xml";
      std::ofstream(input, std::ios::binary) << c.text;
      XMLDocument doc;
      StreamingSink sink(doc, path, refuseAt);
      const Failure failure = doc.load(input.string(), LoadRole::Input, &sink);
      ASSERT_EQ(failure.has_value(), plainFailure.has_value());
      if (failure) {
        EXPECT_EQ(failure->message, plainFailure->message);
        EXPECT_EQ(sink.writer_, nullptr);
        continue;
      }
      if (sink.writer_) {
        EXPECT_EQ(doc.root->firstChild, nullptr);
      }
      EXPECT_EQ(sink.written(doc), expected);
      EXPECT_LE(sink.drops_, 1);
    }
  }
}
