#include "StreamedOutput.h"

#include "DirectiveChecks.h"

namespace {

std::optional<std::string> copy(const std::optional<std::string_view>& text) {
  return text ? std::optional<std::string>(*text) : std::nullopt;
}

}  // namespace

StreamedOutput::Start StreamedOutput::currentStart() const {
  return {copy(document_.version), copy(document_.encoding), copy(doctype())};
}

bool StreamedOutput::begin(const XMLElement& root) {
  if (refused_) return false;
  if (!target_.file.openTemporary(target_.path)) {
    target_.file.discard();
    refused_ = true;
    return false;
  }
  writer_ = std::make_unique<PieceWriter>(target_.file, options_);
  writer_->start(document_, doctype(), root);
  start_ = currentStart();
  return true;
}

bool StreamedOutput::admits(const XMLElement& element) {
  return Preprocessor::keepsAsRead(element) &&
         (!checks_.any() || DirectiveChecks::findsNothingIn(element, checks_));
}

bool StreamedOutput::take(const XMLElement& root, const XMLNode& child) {
  // Every element of the child, and the root, were admitted as their start tags were read. A
  // failed write ends the streaming: the run written after the walk reports it in its turn.
  if (!writer_ && !begin(root)) return false;
  return writer_->child(child);
}

void StreamedOutput::drop() {
  writer_.reset();
  target_.file.discard();  // a temporary file is removed
}

bool StreamedOutput::takeFinished(const XMLElement& root, const XMLNode& child) {
  if (!writer_ && !begin(root)) return false;
  // A failed write is reported by `finish`; the child is gone either way.
  writer_->child(child);
  return true;
}

Failure StreamedOutput::finish(const XMLElement& root) {
  for (const XMLNode* child = root.firstChild; child; child = child->next)
    writer_->child(*child);
  return writer_->finish(root);
}
