#include "macros/MacroList.h"

#include <string>

namespace {

// Adds a non-empty item; returns the name it defines.
std::optional<std::string> addItem(MacroMap& map, const std::string& item) {
  if (item.empty()) return std::nullopt;
  const std::size_t eq = item.find('=');
  if (eq == std::string::npos) {
    map.insert_or_assign(item, std::string());
    return item;
  }
  std::string name = item.substr(0, eq);
  map.insert_or_assign(name, item.substr(eq + 1));
  return name;
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

std::optional<std::string> addMacroItem(MacroMap& map, std::string_view text) {
  std::string item;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) ++i;
    item.push_back(text[i]);
  }
  return addItem(map, item);
}

void addMacroLines(MacroMap& map, std::string_view text,
                   const std::function<void(const std::string&, std::int32_t)>& defined) {
  for (std::int32_t number = 1; !text.empty(); ++number) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.starts_with('#')) continue;
    const std::optional<std::string> name = addMacroItem(map, line);
    if (name && defined) defined(*name, number);
  }
}
