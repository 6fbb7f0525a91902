#pragma once

#include <signal.h>

// Removal of named temporary files when a termination signal ends the process.
//
// The catchable signals that end a process by default (SIGHUP, SIGINT, SIGQUIT, SIGTERM,
// SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF) are covered. While a name is
// registered, such a signal first removes every registered name and then ends the process with
// the signal's default action, so the exit status is the one the signal would have given anyway.
// Only signals that still have their default action are covered: ignored ones stay ignored, and
// one that the program handles itself keeps its handler.

// Registers `name` in the open directory `directory` (which must stay open until the name is
// unregistered). Call it with the termination signals blocked (see TerminationSignalsBlocked),
// together with creating the file, so that no signal falls between the two. Returns a slot to
// unregister, or -1 when every slot is taken.
int registerTemporary(int directory, const char* name);
// Forgets a registered name (it is not removed); also with the signals blocked.
void unregisterTemporary(int slot);

// Holds the termination signals back for its lifetime: one that arrives meanwhile takes effect
// when the object goes, after the steps it guards (creating and registering a temporary file,
// renaming a finished file into place) are complete.
class TerminationSignalsBlocked {
 public:
  TerminationSignalsBlocked();
  TerminationSignalsBlocked(const TerminationSignalsBlocked&) = delete;
  TerminationSignalsBlocked& operator=(const TerminationSignalsBlocked&) = delete;
  ~TerminationSignalsBlocked();

 private:
  sigset_t previous_;
};
