#include "macros/MacroEnvironment.h"

#include <ctime>

namespace {

MacroEnvironment* gEnvironment = nullptr;

constexpr std::string_view kProduct = "Vexlor Quenfield";

std::string withProduct(std::string_view before, std::string_view after) {
  std::string text(before);
  text += kProduct;
  text += after;
  return text;
}

std::string twoDigits(int value) {
  return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

}  // namespace

MacroEnvironment* macroEnvironment() {
  return gEnvironment;
}
void setMacroEnvironment(MacroEnvironment* environment) {
  gEnvironment = environment;
}

MacroPropertyClass::MacroPropertyClass(std::string_view name, bool systemMacro,
                                       std::string_view description)
    : name(name),
      displayName("$(" + std::string(name) + ")"),
      group(systemMacro ? "System Macro Values" : "(Build Macro Values)"),
      category("Properties"),
      description(description) {}

MacroEnvironment::MacroEnvironment() {
  setMacro("Date", "", "Day Month Year e.g. 21 June 2011.");
  setMacro("DateYear", "", "Year e.g. 2011.");
  setMacro("DateMonth", "", "Month e.g. June.");
  setMacro("DateDay", "", "Day e.g. 21.");
  setMacro("Time", "", "Hour:Minutes:Seconds e.g. 15:34:03.");
  setMacro("TimeHour", "", "Hour e.g. 15.");
  setMacro("TimeMinute", "", "Minute e.g. 34.");
  setMacro("TimeSecond", "", "Seconds e.g. 03.");
  setMacro("UnixTime", "", "Seconds since 00:00, Jan 1 1970 UTC");
  setMacro("HostArch", "x86",
           withProduct("The CPU architecture that ", " is running on e.g. x86."));
  setMacro("HostOS", "linux",
           withProduct("The name of the operating system that ", " is running on e.g. win."));
  setMacro("Micro", "RISCV", withProduct("The ", " target e.g. ARM."));
  setMacro("TargetID", "20", withProduct("ID number representing the ", " target."));
  setMacro("HostEXE", "",
           withProduct("The file extension for executables on the CPU that ",
                       " is running on e.g. .exe."));
  setMacro("HostDLLExt", ".so",
           withProduct("The file extension for dynamic link libraries used by the operating "
                       "system that ",
                       " is running on e.g. .dll, .so, .dylib."));
  setMacro("HostDLL", ".so",
           withProduct("The file extension for dynamic link libraries on the CPU that ",
                       " is running on e.g. .dll."));
}

void MacroEnvironment::setMacro(std::string_view name, std::string_view value,
                                std::string_view description) {
  if (!description.empty()) descriptors_.emplace_back(name, true, description);
  systemMacros_.insert_or_assign(std::string(name), std::string(value));
}

bool MacroEnvironment::dateTimeMacroValue(std::string_view name, std::string& value) {
  static constexpr std::string_view kNames[] = {"Date",       "DateYear",   "DateMonth",
                                                "DateDay",    "Time",       "TimeHour",
                                                "TimeMinute", "TimeSecond", "UnixTime"};
  // Most names looked up are not date or time names: turn them away by their first letter.
  if (name.empty() || (name[0] != 'D' && name[0] != 'T' && name[0] != 'U')) return false;
  int which = -1;
  for (int i = 0; i < 9; ++i) {
    if (kNames[i] == name) which = i;
  }
  if (which < 0) return false;
  std::time_t now = std::time(nullptr);
  if (which == 8) {
    value = std::to_string(static_cast<unsigned long long>(now));
    return true;
  }
  std::tm local{};
  localtime_r(&now, &local);
  static constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                            "May",       "June",     "July",     "August",
                                            "September", "October",  "November", "December"};
  std::string year = std::to_string(local.tm_year + 1900);
  switch (which) {
    case 0:
      value = std::to_string(local.tm_mday) + " " + kMonths[local.tm_mon] + " " + year;
      break;
    case 1:
      value = year;
      break;
    case 2:
      value = twoDigits(local.tm_mon + 1);
      break;
    case 3:
      value = twoDigits(local.tm_mday);
      break;
    case 4:
      value =
          twoDigits(local.tm_hour) + ":" + twoDigits(local.tm_min) + ":" + twoDigits(local.tm_sec);
      break;
    case 5:
      value = twoDigits(local.tm_hour);
      break;
    case 6:
      value = twoDigits(local.tm_min);
      break;
    default:
      value = twoDigits(local.tm_sec);
      break;
  }
  return true;
}

std::string MacroEnvironment::expandWithSystemMacros(std::string_view text) const {
  static const MacroMap kEmpty;
  return expandMacros(kEmpty, text, true);
}
