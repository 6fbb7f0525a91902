#include <cstdio>
#include <new>

#include "driver/Driver.h"

int main(int argc, char** argv) {
  try {
    return runXmlpp(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("xmlpp: out of memory\n", stderr);
    return 1;
  }
}
