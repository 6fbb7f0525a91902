#pragma once

// `xmlpp --lsp`: a language server over standard input and output. It runs the preprocessor on
// the documents an editor has open, as the build would run them, and answers with what the run
// found and decided.

#include <cstdint>
#include <string>

struct ServerSetup {
  std::string installDirectory;  // the value of $(ZuruvaDez)
  // SOURCE_DATE_EPOCH's value, for the date and time macros (empty: the clock).
  std::string sourceDateEpoch;
  // The steps one run may take (elements reached, loop iterations, macro references, copies made
  // by loops and includes counted); past it the run stops with a diagnostic saying so.
  std::uint64_t workBudget = 1'000'000;
};

// Serves the protocol on the descriptors until the client says "exit" or the input ends. The
// status is 0 after an orderly shutdown, else 1.
int runLanguageServer(const ServerSetup& setup, int input, int output);
