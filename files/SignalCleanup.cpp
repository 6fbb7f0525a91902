#include "SignalCleanup.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace {

constexpr int kTerminationSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,   SIGALRM, SIGUSR1,
                                       SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF};

struct Slot {
  int directory = -1;  // -1: the slot is free
  char name[32] = {};
};

// The names the handler removes. A signal handler can reach nothing but process-wide state, so
// this table is the one piece of it; it is only changed while the termination signals are
// blocked, so the handler never sees a slot half written.
Slot slots[8];

extern "C" void removeTemporariesAndExit(int signal) {
  int savedErrno = errno;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  for (const Slot& slot : slots) {
    if (slot.directory >= 0) ::unlinkat(slot.directory, slot.name, 0);
  }
  // SA_RESETHAND has restored the default action; the signal is blocked while this handler
  // runs, so it is delivered again, with that action, as soon as the handler returns.
  ::raise(signal);
  errno = savedErrno;
}

sigset_t terminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kTerminationSignals)
    sigaddset(&set, signal);
  return set;
}

// Points the termination signals that still have their default action at the handler: one that
// is ignored does not end the process, and one that has a handler of the program's own (a test
// harness's timer, say) is the program's to deal with.
void installHandler() {
  for (int signal : kTerminationSignals) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) ||
        current.sa_handler != SIG_DFL) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = removeTemporariesAndExit;
    sigfillset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(signal, &action, nullptr);
  }
}

}  // namespace

int registerTemporary(int directory, const char* name) {
  if (std::strlen(name) >= sizeof slots[0].name) return -1;
  for (int i = 0; i < static_cast<int>(std::size(slots)); ++i) {
    if (slots[i].directory >= 0) continue;
    std::strcpy(slots[i].name, name);
    slots[i].directory = directory;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    installHandler();
    return i;
  }
  return -1;
}

void unregisterTemporary(int slot) {
  if (slot < 0 || slot >= static_cast<int>(std::size(slots))) return;
  slots[slot].directory = -1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

TerminationSignalsBlocked::TerminationSignalsBlocked() {
  sigset_t set = terminationSignals();
  ::sigprocmask(SIG_BLOCK, &set, &previous_);
}

TerminationSignalsBlocked::~TerminationSignalsBlocked() {
  ::sigprocmask(SIG_SETMASK, &previous_, nullptr);
}
