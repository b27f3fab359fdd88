// Test double: an OutputStream that keeps what it is given, write by write,
// counts the writes and flushes, and can be told to fail.
#pragma once

#include <string>
#include <vector>

#include "output/console_sink.h"

namespace sorvane::testing {

class RecordingStream : public OutputStream {
 public:
  IoResult<void> write_all(ByteSpan bytes) override {
    ++writes;
    if (fail_writes) return fail(IoError{IoErrorKind::BrokenPipe, "broken pipe (os error 32)"});
    chunks.emplace_back(bytes.begin(), bytes.end());
    text += chunks.back();
    return {};
  }
  IoResult<void> flush() override {
    ++flushes;
    if (fail_writes || fail_flush)
      return fail(IoError{IoErrorKind::BrokenPipe, "broken pipe (os error 32)"});
    return {};
  }

  std::string text;                 // everything written
  std::vector<std::string> chunks;  // the same, one entry per write
  int writes = 0;
  int flushes = 0;
  bool fail_writes = false;
  bool fail_flush = false;
};

// Standard output and standard error as two recording streams behind
// non-terminal sinks, which pass bytes through unchanged.
struct RecordedStreams {
  explicit RecordedStreams(bool json) : streams{out_sink, err_sink, json, false} {}

  RecordingStream out;
  RecordingStream err;
  ConsoleSink out_sink{out, false};
  ConsoleSink err_sink{err, false};
  OutputStreams streams;
};

}  // namespace sorvane::testing
