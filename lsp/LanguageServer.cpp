#include "lsp/LanguageServer.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "Server.h"
#include "Transport.h"

namespace {

std::size_t readSome(int descriptor, char* buffer, std::size_t size) {
  while (true) {
    const ssize_t got = ::read(descriptor, buffer, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

// Writes all of `bytes`; false when the output is gone.
bool writeAll(int descriptor, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(descriptor, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

// Whether the input has bytes to read now (or has ended, which the next read finds).
bool inputWaiting(int descriptor) {
  pollfd ready{descriptor, POLLIN, 0};
  while (true) {
    const int count = ::poll(&ready, 1, 0);
    if (count >= 0) return count > 0;
    if (errno != EINTR) return false;
  }
}

}  // namespace

int runLanguageServer(const ServerSetup& setup, int input, int output) {
  bool outputGone = false;
  Server server(setup, [&](const std::string& body) {
    if (!outputGone) outputGone = !writeAll(output, frameMessage(body));
  });
  MessageReader reader(
      [input](char* buffer, std::size_t size) { return readSome(input, buffer, size); });
  while (!server.exited() && !outputGone) {
    MessageReader::Message message = reader.next();
    if (!message.dropped.empty()) server.dropped(message.dropped);
    if (message.end) break;
    server.receive(message.body);
    // Edits typed faster than a run takes are run once, when the client has paused.
    if (!reader.buffered() && !inputWaiting(input)) server.settle();
  }
  return server.exitStatus() == 0 && server.exited() ? 0 : 1;
}
