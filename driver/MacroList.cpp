#include "driver/MacroList.h"

std::vector<std::string> splitMacroList(std::string_view text) {
  std::vector<std::string> items;
  std::string item;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      item.push_back(text[++i]);
    } else if (c == ';') {
      if (!item.empty()) items.push_back(std::move(item));
      item.clear();
    } else {
      item.push_back(c);
    }
  }
  if (!item.empty()) items.push_back(std::move(item));
  return items;
}

MacroMap macroListToMap(const std::vector<std::string>& items) {
  MacroMap map;
  for (const std::string& item : items) {
    std::size_t eq = item.find('=');
    if (eq == std::string::npos) {
      map.insert_or_assign(item, std::string());
    } else {
      map.insert_or_assign(item.substr(0, eq), item.substr(eq + 1));
    }
  }
  return map;
}
