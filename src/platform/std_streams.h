// The process's standard streams: the terminal test, unbuffered writers for
// standard output and standard error, and reading standard input whole.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/io.h"

namespace sorvane {

enum class StdStream { Output, Error };

// Whether the stream is an interactive terminal (on Windows a console, or the
// pseudo-terminal pipe of an MSYS or Cygwin terminal window).
bool is_terminal(StdStream stream);

// Readies a terminal stream for colour escape sequences where the system
// needs it (a Windows console); false when the stream cannot show them.
bool enable_colour(StdStream stream);

// Unbuffered: each write goes to the system at once, so flush has nothing to
// do. Callers build a whole text and write it in one call. On a Windows
// console the UTF-8 bytes are shown as text whatever the console code page.
class StdOutputStream final : public OutputStream {
 public:
  explicit StdOutputStream(StdStream stream);
  IoResult<void> write_all(ByteSpan bytes) override;
  IoResult<void> flush() override { return {}; }

 private:
  StdStream stream_;
};

// Standard input as a byte stream, read as it arrives. A closed or missing
// standard input reads as its end.
class StdInputStream final : public ByteReader {
 public:
  IoResult<std::size_t> read_some(MutableByteSpan buffer) override;
};

// Standard input up to its end, as bytes, but never more than `limit` (see
// read_to_end). A closed or missing standard input reads as empty.
IoResult<std::string> read_stdin_to_end(std::size_t limit);

// The file name of a pipe (after its last backslash) that MSYS and Cygwin
// terminals use for their pseudo-terminals: "msys-…-pty…" / "cygwin-…-pty…".
bool is_msys_pty_pipe_name(std::u16string_view pipe_name);

}  // namespace sorvane
