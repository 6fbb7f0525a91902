#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "files/OutputFile.h"
#include "xml/TextLines.h"
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

// The repairs of a load, each as kind, line, column, element and name.
std::vector<std::string> repairsOf(const XMLDocument& doc) {
  std::vector<std::string> out;
  for (const XMLDocument::Repair& r : doc.repairs) {
    out.push_back(std::to_string(static_cast<int>(r.kind)) + " " +
                  std::to_string(doc.lineAt(r.at)) + ":" + std::to_string(doc.columnAt(r.at)) +
                  " " + std::string(r.element) + " " + std::string(r.name));
  }
  return out;
}

TEST(Reader, RepairsRecordedWhileChildrenAreTakenAreThoseOfTheWholeText) {
  TempDir dir("xmlpp-repairs");
  const std::string path = (dir.path() / "out.xml").string();
  const std::filesystem::path input = dir.path() / "in.xml";
  std::string indented = "<root>";
  for (int i = 0; i < 200000; ++i)
    indented += "\n  <a i=\"" + std::to_string(i) + "\"/>";
  indented += "\n</root>\n";
  // Text after a child near where the first window ends; a NUL byte; nothing to repair.
  std::vector<std::string> texts;
  for (std::size_t back = 0; back < 24; back += 3) {
    std::string text = indented;
    texts.push_back(text.insert(text.find('\n', (1 << 20) - back), "wd"));
  }
  texts.push_back(std::string(indented).insert(indented.size() / 2, 1, '\0'));
  texts.push_back(indented + std::string(1, '\0') + std::string(3 << 20, ' '));
  texts.push_back(indented);
  for (const std::string& text : texts) {
    SCOPED_TRACE(texts.size());
    std::ofstream(input, std::ios::binary) << text;
    XMLDocument plain, doc;
    plain.recordRepairs = doc.recordRepairs = true;
    ASSERT_FALSE(plain.load(input.string()));
    std::string expected;
    plain.write(expected);
    std::filesystem::remove(path);
    StreamingSink sink(doc, path, -1);
    ASSERT_FALSE(doc.load(input.string(), LoadRole::Input, &sink));
    EXPECT_EQ(repairsOf(doc), repairsOf(plain));
    // Only a text without repairs stays taken.
    EXPECT_EQ(sink.drops_ == 0, plain.repairs.empty());
    EXPECT_TRUE(sink.written(doc) == expected);
  }
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

// The position service: lines end at LF, CR or CR LF; columns in bytes, code points (a stray
// byte is one, a position inside a character is that character's) and UTF-16 units.
TEST(TextLines, LinesAndColumns) {
  struct Case {
    const char* what;
    std::string_view text;
    std::size_t line;
    std::int32_t byteColumn;
    std::int32_t codePoints;  // 0: no such column
  } cases[] = {
      {"ASCII", "<a>\n  <b/>\n", 1, 3, 3},
      {"after two-byte characters", "\xC3\xA9\xC3\xA9<b/>", 0, 5, 3},
      {"after a four-byte character", "\xF0\x9F\x98\x80<b/>", 0, 5, 2},
      {"each stray byte one", "\xFF\xFE\xE2\x82<b/>", 0, 5, 5},
      {"inside a character: that character", "x\xE2\x82\xAC<", 0, 3, 2},
      {"carriage return line ends",
       "a\rb\r\n\xC3\xA9"
       "c",
       2, 3, 2},
      {"both together are one end", "a\r\nb", 1, 1, 1},
      {"no such line", "a\nb", 2, 1, 0},
      {"past the line's end", "ab\ncd", 0, 4, 0},
      {"the end of the line", "ab\ncd", 0, 3, 3},
  };
  for (const Case& c : cases) {
    const TextLines lines(c.text);
    EXPECT_EQ(lines.codePointColumn(c.line, c.byteColumn), c.codePoints) << c.what;
    if (c.codePoints == 0) continue;
    const std::size_t offset = lines.lineStart(c.line) + static_cast<std::size_t>(c.byteColumn) - 1;
    EXPECT_EQ(static_cast<std::size_t>(lines.lineOf(offset)), c.line) << c.what;
    EXPECT_EQ(lines.byteColumn(offset), c.byteColumn) << c.what;
  }
}

// An index told of each edit answers as one built anew on the edited text, for edits that join
// or split a CR LF, and for every question; the lines are long, so that a column's count runs
// past the index's checkpoints (every 4 KiB), and half the edits fall near one.
TEST(TextLines, EditsKeepTheIndexTrue) {
  std::uint32_t seed = 11;
  auto below = [&](std::size_t n) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<std::size_t>((seed >> 8) % n);
  };
  static constexpr std::string_view kPieces[] = {
      "a", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xFF", "xyz"};
  static constexpr std::string_view kLineEnds[] = {"\n", "\r", "\r\n"};
  auto randomText = [&](std::size_t pieces) {
    std::string text;
    for (std::size_t i = 0; i < pieces; ++i) {
      text += below(300) == 0 ? kLineEnds[below(3)] : kPieces[below(std::size(kPieces))];
    }
    return text;
  };
  std::string text = randomText(8000);
  TextLines edited(text);
  for (int round = 0; round < 300; ++round) {
    (void)edited.codePointColumn(0, 1);  // built before the edit, which must keep it true
    std::size_t start = below(text.size() + 1);
    if (round % 2 == 0) start = std::min(text.size(), (below(5) + 1) * 4096 + below(8) - 4);
    const std::size_t end = start + below(std::min<std::size_t>(text.size() - start, 40) + 1);
    const std::string inserted =
        below(4) == 0 ? std::string(kLineEnds[below(3)]) : randomText(below(8));
    text.replace(start, end - start, inserted);
    edited.replaced(text, start, end, inserted.size());
    const TextLines fresh(text);
    ASSERT_EQ(edited.lineCount(), fresh.lineCount()) << round;
    for (int probe = 0; probe < 20; ++probe) {
      const std::size_t at =
          probe % 2 ? below(text.size() + 1) : std::min(text.size(), start + below(3000));
      const auto line = static_cast<std::size_t>(fresh.lineOf(at));
      ASSERT_EQ(edited.lineOf(at), fresh.lineOf(at)) << round;
      ASSERT_EQ(edited.lineStart(line), fresh.lineStart(line)) << round;
      ASSERT_EQ(edited.lineEnd(line), fresh.lineEnd(line)) << round;
      ASSERT_EQ(edited.utf16Column(at), fresh.utf16Column(at)) << round;
      const auto units = static_cast<std::int64_t>(below(3000));
      ASSERT_EQ(edited.offsetOfUtf16(line, units), fresh.offsetOfUtf16(line, units)) << round;
      const auto column = static_cast<std::int32_t>(at - fresh.lineStart(line) + 1);
      ASSERT_EQ(edited.codePointColumn(line, column), fresh.codePointColumn(line, column));
    }
  }
}
