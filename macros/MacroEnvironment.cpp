#include "macros/MacroEnvironment.h"

#include <ctime>
#include <utility>

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

// The date and time macros, each with the text it makes of a time (seconds since the epoch) and
// of the same time broken down.
struct DateTimeMacro {
  std::string_view name;
  std::string (*format)(std::time_t, const std::tm&);
};
constexpr DateTimeMacro kDateTimeMacros[] = {
    {"Date", [](std::time_t, const std::tm& t) { return dateText(t); }},
    {"DateYear", [](std::time_t, const std::tm& t) { return std::to_string(t.tm_year + 1900); }},
    {"DateMonth", [](std::time_t, const std::tm& t) { return twoDigits(t.tm_mon + 1); }},
    {"DateDay", [](std::time_t, const std::tm& t) { return twoDigits(t.tm_mday); }},
    {"Time", [](std::time_t, const std::tm& t) { return timeText(t); }},
    {"TimeHour", [](std::time_t, const std::tm& t) { return twoDigits(t.tm_hour); }},
    {"TimeMinute", [](std::time_t, const std::tm& t) { return twoDigits(t.tm_min); }},
    {"TimeSecond", [](std::time_t, const std::tm& t) { return twoDigits(t.tm_sec); }},
    {"UnixTime",
     [](std::time_t when, const std::tm&) {
       return std::to_string(static_cast<unsigned long long>(when));
     }},
};

// The system macros whose values are fixed for this build.
constexpr std::pair<std::string_view, std::string_view> kFixedMacros[] = {
    {"HostArch", "x86"}, {"HostOS", "linux"},   {"Micro", "RISCV"}, {"TargetID", "20"},
    {"HostEXE", ""},     {"HostDLLExt", ".so"}, {"HostDLL", ".so"},
};

// The first letters of the names in the table: most names looked up are no date or time name,
// and this tells so without comparing names.
struct FirstLetters {
  bool letter[256] = {};
  constexpr FirstLetters() {
    for (const DateTimeMacro& macro : kDateTimeMacros)
      letter[static_cast<unsigned char>(macro.name[0])] = true;
  }
};
constexpr FirstLetters kFirstLetters;

}  // namespace

MacroEnvironment::MacroEnvironment(std::string_view installDirectory,
                                   std::optional<std::time_t> fixedTime)
    : fixedTime_(fixedTime) {
  // The date and time macros are stored empty: their values are made when they are used.
  for (const DateTimeMacro& macro : kDateTimeMacros)
    systemMacros_.emplace(macro.name, "");
  for (const auto& [name, value] : kFixedMacros)
    systemMacros_.emplace(name, value);
  systemMacros_.emplace("ZuruvaDez", installDirectory);
}

bool dateTimeMacroValue(std::string_view name, std::string& value,
                        std::optional<std::time_t> fixedTime) {
  if (name.empty() || !kFirstLetters.letter[static_cast<unsigned char>(name[0])]) return false;
  for (const DateTimeMacro& macro : kDateTimeMacros) {
    if (macro.name != name) continue;
    const std::time_t when = fixedTime ? *fixedTime : std::time(nullptr);
    std::tm broken{};
    if (fixedTime) {
      gmtime_r(&when, &broken);
    } else {
      localtime_r(&when, &broken);
    }
    value = macro.format(when, broken);
    return true;
  }
  return false;
}

std::optional<std::string> MacroEnvironment::expandWithSystemMacros(std::string_view text) const {
  static const MacroTable kNone;
  return expand(kNone, text, true);
}
