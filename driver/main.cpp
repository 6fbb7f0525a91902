#include <csignal>
#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>

#include "driver/Driver.h"

int main(int argc, char** argv) {
  // A write to a pipe whose reader has gone fails with EPIPE, and one past the file-size limit
  // (ulimit -f) with EFBIG, instead of ending the process, so the run reports them like any other
  // failed write ("couldn't write ...", status 1) and changes nothing.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  // Resource exhaustion (an allocation, or a system call short of memory) ends the run with one
  // line and status 1; the output file is written through a temporary file, so nothing
  // half-written is left behind.
  try {
    return runXmlpp(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("xmlpp: out of memory\n", stderr);
  } catch (const std::length_error&) {
    std::fputs("xmlpp: out of memory\n", stderr);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "xmlpp: %s\n", error.what());
  }
  return 1;
}
