#include "Help.h"

#include <string_view>
#include <utility>
#include <vector>

#include "xmlpp/CheckOptions.h"
#include "xmlpp/Directives.h"
#include "xmlpp/Options.h"

std::string directivesHelp() {
  std::string text =
      "\nDirectives (* a required attribute; [] one accepted that changes nothing):\n";
  for (const Directive& directive : kDirectives) {
    std::string line = "  " + std::string(directive.name);
    // Any attribute: the macro a condition tests, or each variable of a loop.
    if (directive.anyAttribute) {
      line += directive.group == DirectiveGroup::Loops ? " NAME=\"VALUE,...\" ..."
                                                       : " NAME=\"VALUE,...\"";
    }
    for (const DirectiveAttribute& a : directive.attributes) {
      if (a.name.empty()) continue;
      line += ' ';
      if (a.use == AttributeUse::NoEffect) line += '[';
      line += a.name;
      if (a.use == AttributeUse::Required) line += '*';
      if (a.use == AttributeUse::NoEffect) line += ']';
    }
    text += line + "\n      " + std::string(directive.summary) + "\n";
  }
  return text;
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
      "Options (anywhere; after \"--\" every argument is positional):\n";
  text += alignedHelp(optionHelpRows()) + checkOptionsHelp() + checksHelp() + directivesHelp();
  text +=
      "\n"
      "Messages: a failure prints one line on standard error and exits with 1;\n"
      "a failed system call adds its reason (\"  note: No such file or directory\").\n"
      "\n"
      "Environment:\n"
      "  XMLPP_DEPFILE      also write a Make-style dependency file to this path\n"
      "                     (-MF and -MD win), replaced together with the output;\n"
      "                     a file name Make or Ninja would misread fails the run\n"
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
