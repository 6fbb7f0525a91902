#include "macros/MacroEnvironment.h"

#include <ctime>

namespace {

std::string twoDigits(int value) {
  return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

std::string dateText(const std::tm& t) {
  static constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                            "May",       "June",     "July",     "August",
                                            "September", "October",  "November", "December"};
  // The day without a leading zero, the month's English name, the year.
  return std::to_string(t.tm_mday) + " " + kMonths[t.tm_mon] + " " +
         std::to_string(t.tm_year + 1900);
}

std::string timeText(const std::tm& t) {
  return twoDigits(t.tm_hour) + ":" + twoDigits(t.tm_min) + ":" + twoDigits(t.tm_sec);
}

// The date and time macros, each with the text it makes of a broken-down time.
struct DateTimeMacro {
  std::string_view name;
  std::string (*format)(const std::tm&);
};
constexpr DateTimeMacro kDateTimeMacros[] = {
    {"Date", dateText},
    {"DateYear", [](const std::tm& t) { return std::to_string(t.tm_year + 1900); }},
    {"DateMonth", [](const std::tm& t) { return twoDigits(t.tm_mon + 1); }},
    {"DateDay", [](const std::tm& t) { return twoDigits(t.tm_mday); }},
    {"Time", timeText},
    {"TimeHour", [](const std::tm& t) { return twoDigits(t.tm_hour); }},
    {"TimeMinute", [](const std::tm& t) { return twoDigits(t.tm_min); }},
    {"TimeSecond", [](const std::tm& t) { return twoDigits(t.tm_sec); }},
};

}  // namespace

MacroEnvironment::MacroEnvironment(std::string_view installDirectory,
                                   std::optional<std::time_t> fixedTime)
    : fixedTime_(fixedTime) {
  // The date and time macros are stored empty: their values are made when they are used.
  for (const DateTimeMacro& macro : kDateTimeMacros)
    systemMacros_.emplace(macro.name, "");
  systemMacros_.emplace("UnixTime", "");
  systemMacros_.emplace("HostArch", "x86");
  systemMacros_.emplace("HostOS", "linux");
  systemMacros_.emplace("Micro", "RISCV");
  systemMacros_.emplace("TargetID", "20");
  systemMacros_.emplace("HostEXE", "");
  systemMacros_.emplace("HostDLLExt", ".so");
  systemMacros_.emplace("HostDLL", ".so");
  systemMacros_.emplace("ZuruvaDez", installDirectory);
}

bool dateTimeMacroValue(std::string_view name, std::string& value,
                        std::optional<std::time_t> fixedTime) {
  // Most names looked up are not date or time names: turn them away by their first letter.
  if (name.empty() || (name[0] != 'D' && name[0] != 'T' && name[0] != 'U')) return false;
  const std::time_t when = fixedTime ? *fixedTime : std::time(nullptr);
  if (name == "UnixTime") {
    value = std::to_string(static_cast<unsigned long long>(when));
    return true;
  }
  for (const DateTimeMacro& macro : kDateTimeMacros) {
    if (macro.name != name) continue;
    std::tm broken{};
    if (fixedTime) {
      gmtime_r(&when, &broken);
    } else {
      localtime_r(&when, &broken);
    }
    value = macro.format(broken);
    return true;
  }
  return false;
}

std::string MacroEnvironment::expandWithSystemMacros(std::string_view text) const {
  static const MacroTable kNone;
  return expand(kNone, text, true);
}
