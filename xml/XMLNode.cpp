#include "xml/XMLNode.h"

#include <stdexcept>

void refuseLength() {
  throw std::length_error("a name, value or text of 4 GiB or more");
}
