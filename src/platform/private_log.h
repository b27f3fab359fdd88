// A log file that only the current user may read or write (created with mode
// 0600; on Windows with a DACL that names the user alone), to which several
// processes may append lines at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/io.h"
#include "text/native_string.h"

namespace sorvane {

// How long an append waits for another process that holds the file's lock.
// Past it the line is appended anyway: a record is worth more than its place
// in a chain.
inline constexpr std::chrono::seconds LOG_LOCK_WAIT{5};

// Opens `path` for appending (creating it as above; an existing file keeps
// its permissions). Refuses (InvalidInput, saying why) a name that is a
// symbolic link or leads to anything but a regular file (a FIFO, a device),
// and a file of another user or that others may write to (on Windows: a
// reparse point, or a file another user owns). Then it locks it against the other appenders that
// lock it the same way, hands `next_line` the file's last line (with its line feed if it has one;
// empty for an empty file) and appends what it returns in one write.
IoResult<void> append_to_private_log(
    const NativePath& path,
    const std::function<std::string(std::string_view last_line)>& next_line);

// The last line of a file of `size` bytes, read through `read_at` (which
// fills the whole span from the offset), from the end backwards.
using ReadAt = std::function<IoResult<void>(std::uint64_t offset, MutableByteSpan bytes)>;
IoResult<std::string> read_last_line(std::uint64_t size, const ReadAt& read_at);

}  // namespace sorvane
