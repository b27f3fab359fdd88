// Reading a file by name, as a stream: whatever the name leads to (a regular
// file, a FIFO, a device such as /dev/stdin) is read until it ends.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "base/io.h"
#include "text/native_string.h"

namespace sorvane {

IoResult<std::unique_ptr<ByteReader>> open_for_reading(const NativePath& path);

// The file's bytes, but never more than `limit` (see read_to_end).
IoResult<std::string> read_file(const NativePath& path, std::size_t limit);

}  // namespace sorvane
