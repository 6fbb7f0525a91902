#pragma once

// What the thread that reads the client's messages tells the thread that serves them while it is
// busy: that a message arrived which makes the current work stale or unwanted (an edit, a close,
// a cancellation, shutdown or exit), and which requests the client cancelled. A run of the server
// looks at `pending()` at each step and stops when it is set; the serving thread clears it when
// it takes the messages that set it.

#include <atomic>
#include <mutex>
#include <set>
#include <string>

class Interruptions {
 public:
  void raise() { pending_.store(true, std::memory_order_release); }
  bool pending() const { return pending_.load(std::memory_order_acquire); }
  void clear() { pending_.store(false, std::memory_order_release); }

  // A request id (its JSON text) the client cancelled.
  void cancel(std::string id) {
    {
      const std::lock_guard lock(mutex_);
      cancelled_.insert(std::move(id));
    }
    raise();
  }
  // Whether the request was cancelled; it is forgotten then, since it is answered once.
  bool takeCancelled(const std::string& id) {
    const std::lock_guard lock(mutex_);
    return cancelled_.erase(id) > 0;
  }

 private:
  std::atomic<bool> pending_ = false;
  std::mutex mutex_;
  std::set<std::string> cancelled_;
};

// Thrown by a run of the server that stopped because an interruption was pending.
struct RunInterrupted {};
