#include "macros/MacroList.h"

#include <string>

namespace {

void addItem(MacroMap& map, const std::string& item) {
  if (item.empty()) return;
  const std::size_t eq = item.find('=');
  if (eq == std::string::npos) {
    map.insert_or_assign(item, std::string());
  } else {
    map.insert_or_assign(item.substr(0, eq), item.substr(eq + 1));
  }
}

}  // namespace

MacroMap parseMacroList(std::string_view text) {
  MacroMap map;
  std::string item;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      item.push_back(text[++i]);
    } else if (c == ';') {
      addItem(map, item);
      item.clear();
    } else {
      item.push_back(c);
    }
  }
  addItem(map, item);
  return map;
}

void addMacroItem(MacroMap& map, std::string_view text) {
  std::string item;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) ++i;
    item.push_back(text[i]);
  }
  addItem(map, item);
}

void addMacroLines(MacroMap& map, std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (!line.starts_with('#')) addMacroItem(map, line);
  }
}
