// Writes the benchmark inputs into a folder (default: the current one). Deterministic: the same
// files every time, so output checksums can be compared across versions of the tool.
//
//   1-plain.xml      ~100 MB of nested elements with 3 to 6 attributes each, no directives
//   2-macros.xml     the same shape with $(...) references in half the values (20-item list)
//   3-loops.xml      nested for/foreach loops producing 1,000,000 elements
//   4-ifex.xml       2,000,000 "ifex" conditions inside a loop
//   5-include.xml    an include tree of 2,000 small files (in 5-include/)
//   6-deep-if.xml    100,000 nested "if" elements around one element
//
// and, in scaling/, each of these at a size N and at 4N (NAME-N.xml, NAME-4N.xml, and the macro
// list NAME-N.list where there is one), whose cost must grow no faster than the size:
//   includes         N includes of one tiny file (N = 10,000)
//   include-tree     files that each include the next one twice: 2^13 and 2^15 include operations
//   nested-for       N nested one-iteration "for" elements (N = 750)
//   nested-foreach   the same with one-value "foreach" elements
//   nested-scopes    N nested scopes that each define a macro, with N / 5 command-line macros
//                    (N = 2,500)
//   sibling-scopes   N sibling elements that each define a macro, after 25 N top-level definitions
//                    (N = 1,000)
//   long-sum         one condition that adds up N terms (N = 25,000)
// and the directives nested N deep with an element at every level (each level's element uses
// that level's loop variable, where there is one):
//   element-ifnot    "ifnot" (N = 64,000)
//   element-switch   "switch" and its "default" (N = 64,000)
//   element-for      one-iteration "for" (N = 16,000)
//   element-foreach  one-value "foreach" (N = 16,000)

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

class Random {
 public:
  std::uint32_t next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  std::uint32_t below(std::uint32_t n) { return next() % n; }

 private:
  std::uint64_t state_ = 42;
};

const char* const kNames[] = {"module", "register", "field", "signal",  "port", "clock",
                              "reset",  "memory",   "bank",  "channel", "irq",  "pin"};
const char* const kAttributes[] = {"name",  "offset", "width", "access",
                                   "reset", "desc",   "group", "mask"};

std::string attributeValue(Random& random, bool withMacro) {
  if (withMacro) {
    return "$(M" + std::to_string(random.below(20)) + ")_" + std::to_string(random.below(1000));
  }
  static const char* const kWords[] = {"read-write", "0x4000", "enabled", "peripheral bus",
                                       "32",         "status", "ctrl",    "data & control"};
  return std::string(kWords[random.below(8)]) + std::to_string(random.below(100000));
}

void writeNested(const std::filesystem::path& path, std::size_t targetBytes, bool macros) {
  std::ofstream out(path, std::ios::binary);
  Random random;
  std::string chunk;
  std::size_t written = 0;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<device>\n";
  while (written < targetBytes) {
    // One subtree: up to 5 levels, a few children per level.
    chunk.clear();
    int depth = 1 + static_cast<int>(random.below(5));
    std::string closing;
    for (int level = 0; level < depth; ++level) {
      const char* name = kNames[random.below(12)];
      chunk.append(2 * (level + 1), ' ').append("<").append(name);
      int count = 3 + static_cast<int>(random.below(4));
      for (int a = 0; a < count; ++a) {
        bool withMacro = macros && random.below(2) == 0;
        std::string value = attributeValue(random, withMacro);
        std::string escaped;
        for (char c : value)
          escaped += c == '&' ? std::string("&amp;") : std::string(1, c);
        chunk.append(" ").append(kAttributes[a]).append("=\"").append(escaped).append("\"");
      }
      if (level + 1 == depth) {
        chunk.append("/>\n");
      } else {
        chunk.append(">\n");
        closing.insert(0, std::string(2 * (level + 1), ' ') + "</" + name + ">\n");
      }
    }
    chunk += closing;
    out << chunk;
    written += chunk.size();
  }
  out << "</device>\n";
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// One scaling workload at `n`: the document, the macro list when it has one, and the options
// it is run with (one a line) when it has some.
struct Scaled {
  std::string document;
  std::string macroList;
  std::string options;
};

Scaled nestedLoops(int n, bool foreach) {
  Scaled w{"<root>\n", "", ""};
  for (int i = 0; i < n; ++i) {
    w.document +=
        foreach ? "<foreach v" + std::to_string(i) + "=\"x\">"
                : "<for index=\"i" + std::to_string(i) + "\" start=\"0\" end=\"1\" incr=\"1\">";
  }
  w.document += "<leaf id=\"$(v0)$(i0)\"/>";
  for (int i = 0; i < n; ++i)
    w.document += foreach ? "</foreach>" : "</for>";
  w.document += "\n</root>\n";
  return w;
}

Scaled nestedScopes(int n) {
  Scaled w;
  for (int i = 0; i < n / 5; ++i)
    w.macroList += "M" + std::to_string(i) + "=value" + std::to_string(i) + ";";
  w.document = "<root>\n";
  // Each level is a scope of its own that goes away in the output, which stays small.
  for (int i = 0; i < n; ++i)
    w.document +=
        "<ifndef name=\"NONE\"><define name=\"d" + std::to_string(i % 7) + "\" value=\"$(M1)\"/>";
  w.document += "<leaf v=\"$(d0)\"/>";
  for (int i = 0; i < n; ++i)
    w.document += "</ifndef>";
  w.document += "\n</root>\n";
  return w;
}

Scaled siblingScopes(int n) {
  Scaled w{"<root>\n", "", ""};
  for (int i = 0; i < 25 * n; ++i)
    w.document +=
        "<define name=\"m" + std::to_string(i) + "\" value=\"" + std::to_string(i) + "\"/>\n";
  for (int i = 0; i < n; ++i)
    w.document +=
        "<e><define name=\"d\" value=\"" + std::to_string(i) + "\"/><v d=\"$(d)\"/></e>\n";
  w.document += "</root>\n";
  return w;
}

// `open` and `close` wrap each level around an <e/> element; `open` may use the level's number
// through "%".
Scaled elementAtEveryLevel(int n, const std::string& open, const std::string& element,
                           const std::string& close) {
  auto withLevel = [](std::string text, int level) {
    for (std::size_t at; (at = text.find('%')) != std::string::npos;)
      text.replace(at, 1, std::to_string(level));
    return text;
  };
  Scaled w{"<root>\n", "", ""};
  for (int i = 0; i < n; ++i)
    w.document += withLevel(open, i) + withLevel(element, i);
  for (int i = 0; i < n; ++i)
    w.document += close;
  w.document += "\n</root>\n";
  return w;
}

// n findings (an unresolved reference each), each on a line of its own or all on one line:
// reported as warnings and in a SARIF log, every finding located.
Scaled findings(int n, bool oneLine) {
  Scaled w{"<root>", "", "--warn\n--diagnostics=sarif:/dev/null\n"};
  for (int i = 0; i < n; ++i)
    w.document += oneLine ? "<x v=\"$(U)\"/>" : "\n<x v=\"$(U)\"/>";
  w.document += "</root>\n";
  return w;
}

// n definitions, then n conditions on names nobody defined, each a swap of two letters away from
// a defined name: every finding looks for its near name among the n.
Scaled nearNames(int n) {
  Scaled w{"<root>\n", "", "--warn\n"};
  for (int i = 0; i < n; ++i)
    w.document += "  <define name=\"BOARD_" + std::to_string(i) + "\" value=\"1\"/>\n";
  for (int i = 0; i < n; ++i)
    w.document += "  <if BAORD_" + std::to_string(i) + "=\"1\"><e/></if>\n";
  w.document += "</root>\n";
  return w;
}

Scaled longSum(int n) {
  Scaled w{"<root>\n  <ifex expression=\"1", "", ""};
  for (int i = 1; i < n; ++i)
    w.document += " + 1";
  w.document +=
      " == " + std::to_string(n) + "\"><sum n=\"" + std::to_string(n) + "\"/></ifex>\n</root>\n";
  return w;
}

void writeScaled(const std::filesystem::path& dir, const std::string& name, const Scaled& n,
                 const Scaled& n4) {
  writeFile(dir / (name + "-N.xml"), n.document);
  writeFile(dir / (name + "-4N.xml"), n4.document);
  if (!n.macroList.empty()) {
    writeFile(dir / (name + "-N.list"), n.macroList);
    writeFile(dir / (name + "-4N.list"), n4.macroList);
  }
  if (!n.options.empty()) {
    writeFile(dir / (name + "-N.opts"), n.options);
    writeFile(dir / (name + "-4N.opts"), n4.options);
  }
}

// The workload `make` gives for n, and for 4n.
template <class Make>
void writeScaledFrom(const std::filesystem::path& dir, const std::string& name, int n, Make make) {
  writeScaled(dir, name, make(n), make(4 * n));
}

void writeScaling(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir);
  writeFile(dir / "tiny.xml", "<t/>\n");
  auto includes = [](int n) {
    Scaled w{"<root>\n", "", ""};
    for (int i = 0; i < n; ++i)
      w.document += "  <include filename=\"tiny.xml\"/>\n";
    w.document += "</root>\n";
    return w;
  };
  writeScaledFrom(dir, "includes", 10000, includes);
  // level-K.xml includes level-(K+1).xml twice; the tree below level-0 has 2^(depth+1) - 2
  // include operations.
  for (int k = 0; k <= 15; ++k) {
    std::string next = "level-" + std::to_string(k + 1) + ".xml";
    writeFile(dir / ("level-" + std::to_string(k) + ".xml"),
              k == 15 ? std::string("<leaf/>\n")
                      : "<envelope><include filename=\"" + next + "\"/><include filename=\"" +
                            next + "\"/></envelope>\n");
  }
  auto tree = [](int depth) {
    return Scaled{
        "<root><include filename=\"level-" + std::to_string(15 - depth) + ".xml\"/></root>\n", "",
        ""};
  };
  writeScaled(dir, "include-tree", tree(12), tree(14));
  writeScaledFrom(dir, "nested-for", 750, [](int n) { return nestedLoops(n, false); });
  writeScaledFrom(dir, "nested-foreach", 750, [](int n) { return nestedLoops(n, true); });
  writeScaledFrom(dir, "nested-scopes", 2500, nestedScopes);
  writeScaledFrom(dir, "sibling-scopes", 1000, siblingScopes);
  writeScaledFrom(dir, "long-sum", 25000, longSum);
  writeScaledFrom(dir, "findings-lines", 20000, [](int n) { return findings(n, false); });
  writeScaledFrom(dir, "findings-line", 10000, [](int n) { return findings(n, true); });
  writeScaledFrom(dir, "near-names", 20000, nearNames);
  writeScaledFrom(dir, "element-ifnot", 64000, [](int n) {
    return elementAtEveryLevel(n, "<ifnot A=\"1\">", "<e/>", "</ifnot>");
  });
  writeScaledFrom(dir, "element-switch", 64000, [](int n) {
    return elementAtEveryLevel(n, "<switch name=\"A\"><default>", "<e/>", "</default></switch>");
  });
  writeScaledFrom(dir, "element-for", 16000, [](int n) {
    return elementAtEveryLevel(n, "<for index=\"i%\" start=\"0\" end=\"1\" incr=\"1\">",
                               "<e n=\"$(i%)\"/>", "</for>");
  });
  writeScaledFrom(dir, "element-foreach", 16000, [](int n) {
    return elementAtEveryLevel(n, "<foreach v%=\"x\">", "<e n=\"$(v%)\"/>", "</foreach>");
  });
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  fs::path dir = argc > 1 ? argv[1] : ".";
  fs::create_directories(dir);
  writeNested(dir / "1-plain.xml", 100u << 20, false);
  writeNested(dir / "2-macros.xml", 100u << 20, true);
  std::string list;
  for (int i = 0; i < 20; ++i)
    list += "M" + std::to_string(i) + "=value" + std::to_string(i) + ";";
  writeFile(dir / "2-macros.list", list);

  writeFile(
      dir / "3-loops.xml",
      "<root>\n"
      "  <for index=\"i\" start=\"0\" end=\"1000\" incr=\"1\" add=\"16\" mul=\"4\">\n"
      "    <foreach a=\"x,y,z,w,v\" b=\"" +
          [] {
            std::string values;
            for (int k = 0; k < 200; ++k)
              values += (k ? "," : "") + std::to_string(k);
            return values;
          }() +
          "\">\n"
          "      <item id=\"$(i)-$(a)-$(b)\" reg=\"$(i_ap_hex)\" name=\"n$(i_alpha)$(b)\"/>\n"
          "    </foreach>\n"
          "  </for>\n"
          "</root>\n");

  writeFile(dir / "4-ifex.xml",
            "<root>\n"
            "  <for index=\"i\" start=\"0\" end=\"2000000\" incr=\"1\">\n"
            "    <ifex expression=\"($(i) % 7) * 3 + 1 &lt; 10 &amp;&amp; $(i) != 5\">\n"
            "      <hit n=\"$(i)\"/>\n"
            "    </ifex>\n"
            "  </for>\n"
            "</root>\n");

  fs::create_directories(dir / "5-include");
  std::string top = "<root>\n";
  for (int d = 0; d < 40; ++d) {
    std::string folder = "d" + std::to_string(d);
    fs::create_directories(dir / "5-include" / folder);
    top += "  <include filename=\"5-include/" + folder + "/index.xml\"/>\n";
    std::string index = "<envelope>\n";
    for (int f = 0; f < 49; ++f) {
      std::string name = "part" + std::to_string(f) + ".xml";
      index += "  <include filename=\"" + name + "\" macros=\"N=" + std::to_string(f) + "\"/>\n";
      writeFile(
          dir / "5-include" / folder / name,
          "<part id=\"$(N)\" dir=\"" + folder +
              "\">\n  <reg name=\"r$(N)\" offset=\"0x10\"/>\n  <reg name=\"s$(N)\"/>\n</part>\n");
    }
    index += "</envelope>\n";
    writeFile(dir / "5-include" / folder / "index.xml", index);
  }
  top += "</root>\n";
  writeFile(dir / "5-include.xml", top);

  std::string deep = "<root>";
  for (int i = 0; i < 100000; ++i)
    deep += "<if A=\"1\">";
  deep += "<x/>";
  for (int i = 0; i < 100000; ++i)
    deep += "</if>";
  deep += "</root>\n";
  writeFile(dir / "6-deep-if.xml", deep);
  writeScaling(dir / "scaling");
  return 0;
}
