// The message framing alone, on any bytes: the reader, fed in pieces whose size the first byte
// chooses, must end, yield no more body bytes than it was given, and read each body it yields,
// framed again, back as that body alone.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "lsp/Transport.h"

namespace {

// Every message of `text`, read in pieces of at most `piece` bytes.
std::vector<MessageReader::Message> readAll(std::string_view text, std::size_t piece) {
  std::size_t at = 0;
  MessageReader reader([&](char* buffer, std::size_t size) {
    const std::size_t count = std::min({size, piece, text.size() - at});
    std::copy_n(text.data() + at, count, buffer);
    at += count;
    return count;
  });
  std::vector<MessageReader::Message> messages;
  // Each message takes at least one byte of the input, so more messages than bytes is a loop.
  for (std::size_t i = 0; i <= text.size() + 1; ++i) {
    messages.push_back(reader.next());
    if (messages.back().end) return messages;
  }
  fuzz::fail("the reader ends", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 64;
  const std::string_view text = fuzz::asText(data + 1, size - 1);
  std::size_t bodies = 0;
  for (const MessageReader::Message& message : readAll(text, piece)) {
    if (message.end) break;
    bodies += message.body.size();
    const std::vector<MessageReader::Message> again = readAll(frameMessage(message.body), 4096);
    fuzz::check(again.size() == 2 && again[0].body == message.body && again[0].dropped.empty() &&
                    again[1].end,
                "a body framed again reads back as itself", message.body);
  }
  fuzz::check(bodies <= text.size(), "no more body bytes than were given", text);
  return 0;
}
