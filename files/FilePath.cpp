#include "files/FilePath.h"

#include <vector>

std::string directoryOf(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string normalizePath(std::string_view path) {
  std::vector<std::string_view> kept;
  int depth = 0;
  bool changed = false;
  std::size_t start = 0;
  bool first = true;
  while (true) {
    std::size_t slash = path.find('/', start);
    bool last = slash == std::string_view::npos;
    std::string_view component = path.substr(start, last ? std::string_view::npos : slash - start);
    if (component == "..") {
      if (depth > 0) {
        kept.pop_back();
        --depth;
        changed = true;
      } else {
        kept.push_back(component);
      }
    } else if (component == ".") {
      changed = true;
    } else if (component.empty()) {
      if (first && !last) {
        kept.push_back(component);  // the mark of an absolute path
      } else {
        changed = true;
      }
    } else {
      kept.push_back(component);
      ++depth;
    }
    first = false;
    if (last) break;
    start = slash + 1;
  }
  if (!changed) return std::string(path);
  std::string result;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i) result.push_back('/');
    result.append(kept[i]);
  }
  return result;
}
