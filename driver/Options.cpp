#include "Options.h"

#include <algorithm>
#include <charconv>

namespace {

// The options, in the order --help lists them. Each one sets a flag; its line in --help is its
// name and `summary`.
struct KnownOption {
  std::string_view name;
  bool Options::*flag;
  std::string_view summary;
};
constexpr KnownOption kOptions[] = {
    {"--help", &Options::help, "print this help and exit"},
    {"--version", &Options::version, "print the version and exit"},
    {"--utf8", &Options::utf8, "keep valid UTF-8 in attribute values, not one &#x..; per byte"},
    {"--locations", &Options::locations, "after a failure, print where: file, line, includes"},
    {"--strict", &Options::strict, "enable every check (less --no-warn); fail on a finding"},
};

// The latest time SOURCE_DATE_EPOCH may give: 9999-12-31 23:59:59 UTC.
constexpr long long kLatestEpoch = 253402300799;

}  // namespace

Expected<Options> parseOptions(int argc, const char* const* argv) {
  Options options;
  std::optional<std::string_view> unknown;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!arg.starts_with("--")) break;
    if (arg == "--") {
      ++i;
      break;
    }
    Expected<bool> checkOption = options.checks.read(arg);
    if (!checkOption) return std::move(checkOption.error());
    if (*checkOption) continue;
    const KnownOption* known = nullptr;
    for (const KnownOption& candidate : kOptions) {
      if (candidate.name == arg) known = &candidate;
    }
    if (!known) {
      if (!unknown) unknown = arg;
      continue;
    }
    options.*(known->flag) = true;
  }
  if (unknown) {
    return Diagnostic::failure("xmlpp: unknown option " + std::string(*unknown) +
                               " (see xmlpp --help)");
  }
  for (; i < argc; ++i)
    options.arguments.emplace_back(argv[i]);
  return options;
}

std::string helpText() {
  std::string text =
      "Usage: xmlpp [options] <infile> <outfile> [macro1=value;macro2=value;..]\n"
      "             [doctype]\n"
      "Carries out the directives in the XML file <infile> (\"-\": standard input),\n"
      "expands $(name) references in attribute values and writes the result to\n"
      "<outfile> (\"-\": standard output). With exactly four arguments, the output\n"
      "gets <!DOCTYPE doctype>.\n"
      "\n"
      "Options (before <infile>; \"--\" ends them):\n";
  std::size_t width = 0;
  for (const KnownOption& option : kOptions)
    width = std::max(width, option.name.size());
  for (const KnownOption& option : kOptions) {
    text.append("  ").append(option.name).append(width - option.name.size() + 2, ' ');
    text.append(option.summary).push_back('\n');
  }
  text += checkOptionsHelp() + checksHelp();
  text +=
      "\n"
      "Environment:\n"
      "  XMLPP_DEPFILE      also write a Make-style dependency file to this path,\n"
      "                     replaced together with the output; a file name Make or\n"
      "                     Ninja would misread fails the run\n"
      "  SOURCE_DATE_EPOCH  seconds since 1970-01-01 00:00:00 UTC: the date and time\n"
      "                     macros give this time, in UTC, instead of the clock's\n"
      "\n"
      "Documentation: man xmlpp; README.md and directives.md (the complete\n"
      "reference) in share/doc/xmlpp/ under the installation prefix.\n";
  return text;
}

std::string versionText() {
  return "xmlpp " XMLPP_VERSION "\n";
}

Expected<std::time_t> parseSourceDateEpoch(std::string_view text) {
  long long seconds = 0;
  // from_chars would take a leading "-"; only digits are a count of seconds here.
  const bool digits =
      !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (!digits || error != std::errc() || end != text.data() + text.size() ||
      seconds > kLatestEpoch) {
    return Diagnostic::failure("xmlpp: SOURCE_DATE_EPOCH is not a count of seconds from 0 to " +
                               std::to_string(kLatestEpoch));
  }
  return static_cast<std::time_t>(seconds);
}
