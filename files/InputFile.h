#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "diagnostics/Diagnostic.h"
#include "files/FileDescriptor.h"

// Reads a whole input: the file `name`, or standard input when the name is "-". The bytes are
// copied into blocks that `allocateBlock` gives (each of the size asked, living as long as the text
// is used), so the text stays as it was read whatever happens to the file afterwards: an input
// that shrinks, grows or is replaced while it is read yields what was read. Reading stops at the
// first NUL byte of a stream without a size (such as /dev/zero). Fails with "couldn't read NAME"
// and the system's reason when the input cannot be opened or read (a directory, a read error);
// throws std::bad_alloc when memory runs out, the system's ENOMEM included.
Expected<std::span<char>> readInputFile(const std::string& name,
                                        const std::function<char*(std::size_t)>& allocateBlock);

// The file an input name reads ("-": standard input), or nothing when it cannot be found.
std::optional<FileIdentity> inputIdentity(const std::string& name);
