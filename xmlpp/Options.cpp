#include "xmlpp/Options.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace {

// The options, in the order --help lists them. An option sets a flag, sets a value or adds a
// value to a list (exactly one member pointer is set); `alias` is a second name ("" for none),
// `valueName` names the value in --help.
struct KnownOption {
  std::string_view name;
  std::string_view alias;
  bool Options::*flag = nullptr;
  std::optional<std::string_view> Options::*value = nullptr;
  std::vector<std::string_view> Options::*list = nullptr;
  std::string_view valueName;
  std::string_view summary;
};
constexpr KnownOption kOptions[] = {
    {"--help", "-h", &Options::help, nullptr, nullptr, "", "print this help and exit"},
    {"--version", "", &Options::version, nullptr, nullptr, "", "print the version and exit"},
    {"-o", "", nullptr, &Options::output, nullptr, "FILE",
     "write FILE; the arguments are <infile> [macros] [doctype]"},
    {"-D", "", nullptr, nullptr, &Options::defines, "NAME[=VALUE]",
     "define a macro (one list item); after the list and files"},
    {"--macros-file", "", nullptr, nullptr, &Options::macrosFiles, "FILE",
     "macros from FILE, one item a line, # comment lines"},
    {"-I", "", nullptr, nullptr, &Options::includeDirs, "DIR",
     "look up includes not found beside their file in DIR"},
    {"--doctype", "", nullptr, &Options::doctype, nullptr, "NAME",
     "give the output <!DOCTYPE NAME>"},
    {"-M", "", &Options::depsOnly, nullptr, nullptr, "",
     "print the dependency rule (or write -MF's file); no output"},
    {"-MD", "", &Options::depsBeside, nullptr, nullptr, "",
     "also write the dependency rule to the output's name.d"},
    {"-MF", "", nullptr, &Options::depFile, nullptr, "FILE",
     "write the dependency rule to FILE (not XMLPP_DEPFILE's)"},
    {"-MT", "", nullptr, &Options::depTarget, nullptr, "TARGET",
     "the rule's target is TARGET instead of the output"},
    {"-MP", "", &Options::depsPhony, nullptr, nullptr, "",
     "accepted: every include always gets an empty rule"},
    {"--utf8", "", &Options::utf8, nullptr, nullptr, "",
     "write UTF-8 as it is, and &#..; above 127 as UTF-8"},
    {"--keep-text", "", &Options::keepText, nullptr, nullptr, "",
     "keep the text of elements without child elements"},
    {"--no-locations", "", &Options::noLocations, nullptr, nullptr, "",
     "after a failure, print its message alone, not where"},
    {"--locations", "", &Options::locations, nullptr, nullptr, "",
     "accepted: a failure is followed by where it happened"},
    {"--strict", "", &Options::strict, nullptr, nullptr, "",
     "enable every check (less --no-warn); fail on a finding"},
    {"--lsp", "", &Options::lsp, nullptr, nullptr, "",
     "serve the language server protocol on stdin/stdout"},
    {"--fix", "", &Options::fix, nullptr, nullptr, "[=diff]",
     "repair what findings name for certain (=diff: print it)"},
    {"--graph", "", nullptr, &Options::graph, nullptr, "FILE",
     "write the run's graph of files to FILE (Graphviz DOT)"},
    {"--trace", "", &Options::trace, nullptr, nullptr, "[=FILE]",
     "note each decision on standard error (or in FILE)"},
    {"--trace-file", "", nullptr, &Options::traceFile, nullptr, "PATH",
     "trace only what is written in the input file PATH"},
    {"--trace-macro", "", nullptr, &Options::traceMacro, nullptr, "NAME",
     "trace only what concerns the macro NAME"},
};

bool named(const KnownOption& option, std::string_view arg) {
  return option.name == arg || (!option.alias.empty() && option.alias == arg);
}

// The option `arg` names exactly, or the option with a value whose attached form it is, with
// that value ("-DA=1", "--doctype=x"). Exact names are tried first, so "-MD" is never "-M" with
// a value.
std::pair<const KnownOption*, std::optional<std::string_view>> findOption(std::string_view arg) {
  for (const KnownOption& candidate : kOptions) {
    if (named(candidate, arg)) return {&candidate, std::nullopt};
  }
  for (const KnownOption& candidate : kOptions) {
    if (candidate.flag) continue;
    const std::string_view name = candidate.name;
    if (!arg.starts_with(name)) continue;
    const std::string_view rest = arg.substr(name.size());
    // "--doctype=" gives an empty value; a one-letter option's exact name was matched above.
    if (!name.starts_with("--")) return {&candidate, rest};
    if (rest.starts_with('=')) return {&candidate, rest.substr(1)};
  }
  return {nullptr, std::nullopt};
}

// An option: any argument that begins with "-" but "-" alone (standard input or output).
bool isOption(std::string_view arg) {
  return arg.size() > 1 && arg[0] == '-';
}

void setOption(Options& options, const KnownOption& option, std::string_view value) {
  if (option.value) {
    options.*(option.value) = value;
  } else {
    (options.*(option.list)).push_back(value);
  }
}

// The name --help shows: "-h, --help", "--version", "-o FILE" or "--trace[=FILE]" (a flag's
// value is attached, and optional).
std::string shownName(const KnownOption& option) {
  std::string shown;
  if (!option.alias.empty()) shown.append(option.alias).append(", ");
  shown.append(option.name);
  if (!option.valueName.empty()) shown.append(option.flag ? "" : " ").append(option.valueName);
  return shown;
}

// "; did you mean OPTION?" for an unknown option near a known one (compared up to its "=", if
// any), or nothing.
std::string didYouMean(std::string_view unknown) {
  std::vector<std::string_view> names;
  for (const KnownOption& option : kOptions) {
    names.push_back(option.name);
    if (!option.alias.empty()) names.push_back(option.alias);
  }
  for (const std::string_view name : CheckOptions::names())
    names.push_back(name);
  names.push_back("--trace=");
  const std::size_t equals = unknown.find('=');
  const std::string_view near = closestName(
      equals == std::string_view::npos ? unknown : unknown.substr(0, equals + 1), names);
  return near.empty() ? "" : "; did you mean " + std::string(near) + "?";
}

// The latest time SOURCE_DATE_EPOCH may give: 9999-12-31 23:59:59 UTC.
constexpr long long kLatestEpoch = 253402300799;

}  // namespace

Expected<Options> parseOptions(int argc, const char* const* argv) {
  Options options;
  std::optional<std::string_view> unknown;
  std::optional<std::string_view> missingValue;
  bool positionalOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (positionalOnly || !isOption(arg)) {
      options.arguments.push_back(arg);
      continue;
    }
    if (arg == "--") {
      positionalOnly = true;
      continue;
    }
    Expected<bool> checkOption = options.checks.read(arg);
    if (!checkOption) return std::move(checkOption.error());
    if (*checkOption) continue;
    if (arg == "--fix=diff") {
      options.fix = options.fixDiff = true;
      continue;
    }
    // "--trace=FILE": the flag with its optional value.
    if (arg.starts_with("--trace=")) {
      options.trace = true;
      options.traceOutput = arg.substr(8);
      continue;
    }
    const auto [known, attached] = findOption(arg);
    if (!known) {
      if (!unknown) unknown = arg;
    } else if (known->flag) {
      options.*(known->flag) = true;
    } else if (attached) {
      setOption(options, *known, *attached);
    } else if (i + 1 < argc) {
      setOption(options, *known, argv[++i]);
    } else if (!missingValue) {
      missingValue = arg;
    }
  }
  if (unknown) {
    return Diagnostic::failure("xmlpp: unknown option " + std::string(*unknown) +
                               didYouMean(*unknown) + " (see xmlpp --help)");
  }
  if (missingValue) {
    return Diagnostic::failure("xmlpp: option " + std::string(*missingValue) +
                               " needs a value (see xmlpp --help)");
  }
  // A SARIF log on standard error must be the only thing there, so a trace cannot share it.
  const bool traceOnStderr =
      (options.trace || options.traceFile || options.traceMacro) && !options.traceOutput;
  if (traceOnStderr && options.checks.format == DiagnosticFormat::Sarif &&
      options.checks.sarifFile.empty()) {
    return Diagnostic::failure(
        "xmlpp: --trace and --diagnostics=sarif both write to standard error; give one of them "
        "a file (--trace=FILE or --diagnostics=sarif:FILE)");
  }
  return options;
}

std::vector<std::pair<std::string, std::string_view>> optionHelpRows() {
  std::vector<std::pair<std::string, std::string_view>> rows;
  for (const KnownOption& option : kOptions)
    rows.emplace_back(shownName(option), option.summary);
  return rows;
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
