#include "lsp/LanguageServer.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "Interruptions.h"
#include "Server.h"
#include "Transport.h"

namespace {

// Reads up to `size` bytes, waiting at most 25 ms at a time so that `stopping` is
// seen soon; 0 at the end of the input or once `stopping` is set.
std::size_t readSome(int descriptor, char* buffer, std::size_t size,
                     const std::atomic<bool>& stopping) {
  while (!stopping.load()) {
    pollfd ready{descriptor, POLLIN, 0};
    const int count = ::poll(&ready, 1, 25);
    if (count < 0 && errno != EINTR) return 0;
    if (count <= 0) continue;
    const ssize_t got = ::read(descriptor, buffer, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR && errno != EAGAIN) return 0;
  }
  return 0;
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

// How long the message loop waits for a further message before it runs what was edited.
constexpr std::chrono::milliseconds kPause{20};

// The messages read and not yet served.
struct Inbox {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<MessageReader::Message> messages;
};

// Tells a run in progress about a message that makes it stale or unwanted: an edit, an open or a
// close, shutdown, exit, or a cancellation (whose request is remembered). A look at the text is
// enough: a word found by chance in a document's text only makes a run start over.
void notice(const std::string& body, Interruptions& interruptions) {
  for (const std::string_view method : {"\"textDocument/didChange\"", "\"textDocument/didOpen\"",
                                        "\"textDocument/didClose\"", "\"shutdown\"", "\"exit\""}) {
    if (body.find(method) != std::string::npos) interruptions.raise();
  }
  if (body.find("\"$/cancelRequest\"") == std::string::npos) return;
  const nlohmann::json message = nlohmann::json::parse(body, nullptr, false);
  if (!message.is_object() || !message.contains("params") || !message["params"].is_object()) return;
  const nlohmann::json& params = message["params"];
  if (params.contains("id")) interruptions.cancel(params["id"].dump());
}

// Reads messages into the inbox until the input ends or `stopping` is set.
void readMessages(int input, Inbox& inbox, Interruptions& interruptions,
                  const std::atomic<bool>& stopping) {
  MessageReader reader(
      [&](char* buffer, std::size_t size) { return readSome(input, buffer, size, stopping); });
  bool end = false;
  while (!end) {
    MessageReader::Message message = reader.next();
    end = message.end;
    if (end) {
      interruptions.raise();
    } else {
      notice(message.body, interruptions);
    }
    {
      const std::lock_guard lock(inbox.mutex);
      inbox.messages.push_back(std::move(message));
    }
    inbox.arrived.notify_one();
  }
}

}  // namespace

// The messages are read on a thread of their own, so that a message that arrives while a run is
// in progress is seen at once: an edit, a cancellation, shutdown or exit stops the run at its next
// step (see Interruptions), and the messages are then served in order. Documents are run when no
// message has come for kPause, so that edits typed faster than a run takes are run once.
int runLanguageServer(const ServerSetup& setup, int input, int output) {
  bool outputGone = false;
  Interruptions interruptions;
  Server server(
      setup,
      [&](const std::string& body) {
        if (!outputGone) outputGone = !writeAll(output, frameMessage(body));
      },
      &interruptions);
  Inbox inbox;
  std::atomic<bool> stopping = false;
  std::thread reading(readMessages, input, std::ref(inbox), std::ref(interruptions),
                      std::cref(stopping));
  bool ended = false;
  while (!ended && !server.exited() && !outputGone) {
    std::deque<MessageReader::Message> batch;
    {
      std::unique_lock lock(inbox.mutex);
      inbox.arrived.wait(lock, [&] { return !inbox.messages.empty(); });
      interruptions.clear();
      batch.swap(inbox.messages);
    }
    for (MessageReader::Message& message : batch) {
      if (!message.dropped.empty()) server.dropped(message.dropped);
      if (message.end || server.exited()) {
        ended = message.end;
        break;
      }
      server.receive(message.body);
    }
    // The client has paused when nothing arrives for a moment: a run started between two
    // keystrokes would be stopped by the second after its reading of the files, which cannot
    // stop, had been spent.
    bool waiting = false;
    {
      std::unique_lock lock(inbox.mutex);
      waiting = inbox.arrived.wait_for(lock, kPause, [&] { return !inbox.messages.empty(); });
    }
    if (!ended && !waiting) server.settle();
  }
  stopping.store(true);
  reading.join();
  return server.exitStatus() == 0 && server.exited() ? 0 : 1;
}
