#include "xmlpp/Trace.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "diagnostics/JsonText.h"
#include "xmlpp/Directives.h"

namespace {

// A value as it reads, decoded: printable ASCII (`&`, `<` and `>` too) and valid UTF-8 as they
// are, a quote and a backslash after a backslash, every other byte as \xHH, so that a line holds
// no control byte and the quotes around a value stay unambiguous.
void appendEscaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (std::size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(text[at++]);
    } else if (c >= 0x20 && c <= 0x7E) {
      out.push_back(text[at++]);
    } else if (const std::size_t length = c >= 0x80 ? utf8SequenceLength(text, at) : 0) {
      out.append(text.substr(at, length));
      at += length;
    } else {
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
      ++at;
    }
  }
}

// Whether the loop element defines `name`: a foreach its attributes' names, a for its index and
// the index's derived macros.
bool loopDefines(const XMLElement& loop, bool foreach, std::string_view name) {
  if (foreach) return loop.hasAttribute(name);
  const std::string_view index = loop.attribute(attr::kIndex).value_or(std::string_view());
  if (!name.starts_with(index)) return false;
  for (const std::string_view suffix : directive(DirectiveId::For).loopSuffixes) {
    if (name.size() == index.size() + suffix.size() && name.ends_with(suffix)) return true;
  }
  return false;
}

// A loop's variables as the trace names them: the index of a for, the attribute names of a
// foreach, separated by ",".
std::string loopVariables(const XMLElement& loop, bool foreach) {
  if (!foreach) return std::string(loop.attribute(attr::kIndex).value_or(std::string_view()));
  std::string names;
  for (std::uint32_t i = 0; i < loop.attributeCount(); ++i) {
    if (i > 0) names.push_back(',');
    names.append(loop.attributes()[i].name());
  }
  return names;
}

}  // namespace

Trace::Trace(const XMLDocument& document, ByteSink& out, TraceFilter filter)
    : doc_(document), out_(out), filter_(std::move(filter)) {}

Failure Trace::flush() {
  return out_.flush();
}

std::string Trace::where(const std::string& file, const char* position) {
  std::string text = file + ":" + std::to_string(doc_.lineAt(position) + 1);
  if (const std::int32_t column = doc_.columnAt(position); column > 0) {
    text += ":" + std::to_string(column);
  }
  return text;
}

bool Trace::keptFile(const std::string* file) {
  if (!filter_.file) return true;
  const auto [it, added] = fileKept_.try_emplace(file, false);
  if (added) {
    std::error_code error;
    const bool same = std::filesystem::equivalent(*filter_.file, *file, error);
    it->second = error ? *filter_.file == *file : same;
  }
  return it->second;
}

void Trace::begin(const WalkPlace& place) {
  // An element's place is its "<", the byte before its name.
  buffer_ += where(*place.file, place.element->name().data() - 1);
  buffer_ += ": note: ";
}

void Trace::end() {
  buffer_.push_back('\n');
  out_.append(buffer_);
  buffer_.clear();
}

void Trace::appendQuoted(std::string_view text) {
  buffer_.push_back('"');
  appendEscaped(buffer_, text);
  buffer_.push_back('"');
}

void Trace::appendOrigin(const MacroOrigin* origin) {
  // By MacroOrigin::Kind; a define is named by its directive.
  static constexpr std::string_view kKinds[] = {
      "macro list", directiveName(DirectiveId::Define), "macros attribute",
      "loop",       "defined empty by the test",        "macros file",
      "-D"};
  if (!origin) return;
  buffer_ += " (";
  buffer_ += kKinds[static_cast<int>(origin->kind)];
  if (origin->kind == MacroOrigin::Kind::MacrosFile) {
    buffer_ += " " + *origin->file + ":" + std::to_string(origin->line);
  } else if (origin->file) {
    buffer_ += " at " + where(*origin->file, origin->position - 1);
  }
  buffer_ += ")";
}

void Trace::reference(const ReferenceEvent& event) {
  const ResolvedReference& r = event.reference;
  if (filter_.macro) {
    if (r.name != *filter_.macro) return;
    referring_ = event.place.element;
    referringName_ = referring_ ? referring_->name().data() : nullptr;
  }
  if (!keptFile(event.place.file)) return;
  begin(event.place);
  appendEscaped(buffer_, r.reference);
  buffer_ += " in ";
  buffer_ += event.attribute;
  switch (r.source) {
    case ResolvedReference::Source::Macro:
      buffer_ += " is ";
      appendQuoted(r.value);
      appendOrigin(r.origin);
      break;
    case ResolvedReference::Source::System:
      buffer_ += " is ";
      appendQuoted(r.value);
      buffer_ += " (system macro)";
      break;
    case ResolvedReference::Source::Default:
      buffer_ += " is ";
      appendQuoted(r.value);
      buffer_ += " (default)";
      break;
    case ResolvedReference::Source::Unresolved:
      buffer_ += " is undefined, kept as written";
      break;
  }
  end();
}

void Trace::condition(const ConditionEvent& event) {
  using Directive = DirectiveId;
  if (filter_.macro && event.name != *filter_.macro && !refers(event.place.element)) return;
  if (!keptFile(event.place.file)) return;
  begin(event.place);
  buffer_ += directiveName(event.directive);
  buffer_.push_back(' ');
  switch (event.directive) {
    case Directive::If:
    case Directive::Ifnot:
      buffer_ += event.name;
      buffer_.push_back('=');
      appendQuoted(event.tested);
      break;
    case Directive::Ifex:
      appendQuoted(event.value);
      break;
    default:
      buffer_ += event.name;
      break;
  }
  buffer_ += ": ";
  if (event.directive == Directive::Switch) {
    if (event.chosenDefault) {
      buffer_ += "default taken";
    } else if (event.chosen) {
      buffer_ += "case ";
      appendQuoted(event.chosen->attribute(attr::kValue).value_or(std::string_view()));
      buffer_ += " taken";
    } else {
      buffer_ += "nothing taken (no case matches, no default)";
    }
  } else {
    buffer_ += event.taken ? "taken" : "not taken";
  }
  if (event.directive == Directive::Ifex) {
    buffer_ += !event.truth ? ", it does not evaluate" : *event.truth ? ", true" : ", false";
  } else if (!event.defined) {
    buffer_ += ", " + std::string(event.name) + " is undefined";
  } else {
    buffer_ += ", " + std::string(event.name) + " is ";
    appendQuoted(event.value);
    appendOrigin(event.origin);
  }
  end();
}

void Trace::include(const IncludeEvent& event) {
  if (filter_.macro && !refers(event.place.element)) return;
  if (!keptFile(event.place.file)) return;
  begin(event.place);
  buffer_ += "include ";
  appendQuoted(event.filename);
  buffer_ += ": reads ";
  appendQuoted(event.path);
  if (event.includeDir) buffer_ += " (found through -I " + *event.includeDir + ")";
  end();
}

void Trace::put(const PutEvent& event) {
  if (filter_.macro && !refers(event.place.element)) return;
  if (!keptFile(event.place.file)) return;
  begin(event.place);
  buffer_ += "xmlput ";
  appendQuoted(event.name);
  buffer_ += ": xmldef at " + where(*event.fragmentFile, event.fragment->name().data() - 1);
  end();
}

void Trace::define(const DefineEvent& event) {
  if (filter_.macro && event.name != *filter_.macro && !refers(event.place.element)) return;
  if (!keptFile(event.place.file)) return;
  begin(event.place);
  const bool macrosAttribute = event.origin.kind == MacroOrigin::Kind::MacrosAttribute;
  buffer_ += macrosAttribute ? "macros attribute: " : "define ";
  buffer_ += event.name;
  if (!event.set) {
    buffer_ += ": the ";
    buffer_ += event.attribute;
    buffer_ += " does not evaluate, ";
    buffer_ += event.name;
    buffer_ += " is unchanged";
  } else {
    buffer_ += " is ";
    appendQuoted(event.value);
    if (event.attribute != attr::kValue && !macrosAttribute) {
      buffer_ += " (";
      buffer_ += event.attribute;
      buffer_ += ")";
    }
  }
  end();
}

void Trace::loop(const LoopEvent& event) {
  const XMLElement& loop = *event.place.element;
  if (filter_.macro && !refers(event.place.element) &&
      !loopDefines(loop, event.foreach, *filter_.macro)) {
    return;
  }
  if (!keptFile(event.place.file)) return;
  begin(event.place);
  buffer_ += event.foreach ? "foreach " : "for ";
  buffer_ += loopVariables(loop, event.foreach);
  buffer_ += ": " + std::to_string(event.iterations);
  buffer_ += event.iterations == 1 ? " iteration" : " iterations";
  end();
}
