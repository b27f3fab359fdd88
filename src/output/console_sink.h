// The writer in front of standard output or standard error: every byte the
// tool prints passes through one of two sinks.
#pragma once

#include <string>
#include <string_view>

#include "base/io.h"

namespace sorvane {

class ConsoleSink {
 public:
  ConsoleSink(OutputStream& stream, bool is_terminal);

  // On a terminal only valid UTF-8 reaches the stream: ill-formed parts
  // become U+FFFD and a character split across writes is held back in
  // `pending` until it is complete. Elsewhere bytes pass unchanged.
  IoResult<void> write_all(ByteSpan bytes);
  IoResult<void> write_all(std::string_view text) { return write_all(as_bytes(text)); }
  IoResult<void> flush();

  bool is_terminal() const { return is_terminal_; }

  // End of run: a held-back incomplete character becomes one U+FFFD, then
  // the stream is flushed. Failures are ignored.
  void finish();

 private:
  OutputStream& stream_;
  bool is_terminal_;
  std::string pending_;
};

struct OutputStreams {
  ConsoleSink& out;
  ConsoleSink& err;
  bool json = false;
  bool progress = false;
};

}  // namespace sorvane
