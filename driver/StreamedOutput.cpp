#include "StreamedOutput.h"

#include "xmlpp/Preprocessor.h"

bool StreamedOutput::take(const XMLElement& root, const XMLNode& child) {
  if (!writer_) {
    // The first child: the root (read without its children) must be kept as read too.
    if (!Preprocessor::keepsAsRead(root, pending_)) return false;
    file_ = std::make_unique<OutputFile>();
    if (!file_->openTemporary(path_)) {
      file_.reset();
      return false;
    }
    writer_ = std::make_unique<PieceWriter>(*file_, options_);
    writer_->start(document_, doctype_ ? doctype_ : document_.doctype, root);
  }
  return Preprocessor::keepsAsRead(child, pending_) && writer_->child(child);
}

void StreamedOutput::drop() {
  writer_.reset();
  file_.reset();  // a temporary file is removed
}
