#include "Fix.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>

#include "files/ByteSink.h"
#include "files/InputFile.h"
#include "files/OutputFile.h"
#include "xml/TextLines.h"

namespace {

namespace fs = std::filesystem;

// Whether `path` lies inside the folder `folder` (both made absolute and normal).
bool inside(const fs::path& path, const fs::path& folder) {
  const auto [end, rest] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
  return end == folder.end();
}

// The largest file --fix reads: far above any document, and short of what size arithmetic
// could overflow (half the address space where that is less than 1 TiB).
constexpr std::size_t kMaxFixedFileBytes =
    std::min<std::uint64_t>(std::uint64_t{1} << 40, std::numeric_limits<std::size_t>::max() / 2);

fs::path normal(const std::string& path) {
  std::error_code error;
  fs::path result = fs::weakly_canonical(fs::absolute(path, error), error);
  return error ? fs::path(path).lexically_normal() : result;
}

}  // namespace

std::string applyFixes(std::string_view text, std::vector<FixIt> fixes) {
  const TextLines lines(text);
  struct Edit {
    std::size_t from, to;
    std::string text;
  };
  std::vector<Edit> edits;
  for (const FixIt& fix : fixes) {
    if (fix.line < 0 || static_cast<std::size_t>(fix.line) >= lines.lineCount()) continue;
    const auto line = static_cast<std::size_t>(fix.line);
    const std::size_t start = lines.lineStart(line), end = lines.lineEnd(line);
    if (fix.column < 1 || fix.endColumn < fix.column) continue;
    const std::size_t from = start + static_cast<std::size_t>(fix.column - 1);
    const std::size_t to = start + static_cast<std::size_t>(fix.endColumn - 1);
    if (to > end) continue;
    edits.push_back({from, to, fix.text});
  }
  std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) {
    return a.from != b.from ? a.from < b.from : a.to < b.to;
  });
  std::string result;
  std::size_t done = 0;
  for (const Edit& edit : edits) {
    if (edit.from < done) continue;  // the same fix again, or one overlapping it
    result.append(text.substr(done, edit.from - done)).append(edit.text);
    done = edit.to;
  }
  return result.append(text.substr(done));
}

std::string unifiedDiff(const std::string& path, std::string_view before, std::string_view after) {
  const TextLines old(before), now(after);
  std::string diff = "--- " + path + "\n+++ " + path + "\n";
  // A line with its own line break, so that patch(1) applies the diff to CR LF files too; a last
  // line without one is marked so, as diff(1) does.
  auto lineOf = [](std::string_view text, const TextLines& lines, std::size_t line) {
    const std::size_t from = lines.lineStart(line);
    const std::size_t to = line + 1 < lines.lineCount() ? lines.lineStart(line + 1) : text.size();
    std::string shown(text.substr(from, to - from));
    if (!shown.ends_with('\n')) shown += "\n\\ No newline at end of file\n";
    return shown;
  };
  // Fixes rename within a line, so the two texts have the same lines, line for line.
  const std::size_t count = std::min(old.lineCount(), now.lineCount());
  for (std::size_t line = 0; line < count; ++line) {
    const std::string a = lineOf(before, old, line);
    const std::string b = lineOf(after, now, line);
    if (a == b) continue;
    const std::string number = std::to_string(line + 1);
    diff += "@@ -" + number + ",1 +" + number + ",1 @@\n-" + a + "+" + b;
  }
  return diff;
}

Failure fixFiles(const std::vector<Diagnostic>& diagnostics, const std::string& input,
                 const std::vector<std::string>& includeDirs, bool diffOnly) {
  std::map<std::string, std::vector<FixIt>> byFile;
  for (const Diagnostic& diagnostic : diagnostics) {
    for (const FixIt& fix : diagnostic.fixes)
      if (fix.certain) byFile[fix.file].push_back(fix);
  }
  const fs::path folder = normal(input == "-" ? "." : input).parent_path();
  std::vector<fs::path> dirs;
  for (const std::string& dir : includeDirs)
    dirs.push_back(normal(dir));
  std::deque<OutputFile> written;
  std::string diff;
  for (const auto& [file, fixes] : byFile) {
    const fs::path path = normal(file);
    const bool throughDir = std::any_of(dirs.begin(), dirs.end(),
                                        [&](const fs::path& dir) { return inside(path, dir); });
    if (!inside(path, folder) || throughDir) {
      const char* why = throughDir ? "was found through -I" : "is not under the input's folder";
      for (const FixIt& fix : fixes) {
        std::fprintf(stderr, "xmlpp: %s is not changed, as it %s: at %d:%d, write \"%s\"\n",
                     file.c_str(), why, fix.line + 1, fix.column, fix.text.c_str());
      }
      continue;
    }
    // Every byte of the file, a NUL and what follows it too; the run's positions count from
    // after a UTF-8 byte-order mark, which stays.
    Expected<std::string> text = readRegularFile(file, kMaxFixedFileBytes);
    if (!text) return text.error();
    const std::string_view before = *text;
    const std::size_t mark = before.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    const std::string after =
        std::string(before.substr(0, mark)) + applyFixes(before.substr(mark), fixes);
    if (after == before) continue;
    if (diffOnly) {
      diff += unifiedDiff(file, before, after);
      continue;
    }
    if (Failure failure = writeWhole(written.emplace_back(), file, after)) return failure;
  }
  if (diffOnly) {
    if (std::fputs(diff.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
      return Diagnostic::failure("couldn't write -");
    }
    return std::nullopt;
  }
  for (OutputFile& out : written) {
    if (Failure failure = out.replace()) return failure;
  }
  return std::nullopt;
}
