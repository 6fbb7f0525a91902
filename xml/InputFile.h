#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "xml/Arena.h"
#include "xml/FileDescriptor.h"

// Reads a whole input: the file `name`, or standard input when the name is "-". The bytes are
// copied into a block of `arena`, so the text stays as it was read whatever happens to the file
// afterwards: an input that shrinks, grows or is replaced while it is read yields what was read.
// Reading stops at the first NUL byte of a stream without a size (such as /dev/zero). Returns
// nothing when the input cannot be opened or read (a directory, a read error); throws
// std::bad_alloc when memory runs out, the system's ENOMEM included.
std::optional<std::span<char>> readInputFile(const std::string& name, Arena& arena);

// The file an input name reads ("-": standard input), or nothing when it cannot be found.
std::optional<FileIdentity> inputIdentity(const std::string& name);
