// In-memory streams for the peer's tests.
#pragma once

#include <string>

#include "base/io.h"

namespace sorvane::peer::testing {

class StringWriter : public ByteWriter {
 public:
  IoResult<std::size_t> write_some(ByteSpan bytes) override {
    if (broken) return fail(IoError{IoErrorKind::BrokenPipe, "Broken pipe (os error 32)"});
    text.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return bytes.size();
  }
  std::string text;
  bool broken = false;
};

class EmptyReader : public ByteReader {
 public:
  IoResult<std::size_t> read_some(MutableByteSpan) override { return std::size_t{0}; }
};

// Frames as (kind byte, payload) pairs; whatever does not make a whole frame
// at the end is left in `rest`.
struct SplitFrames {
  std::vector<std::pair<char, std::string>> frames;
  std::string rest;
};

inline SplitFrames split_frames(std::string bytes) {
  SplitFrames out;
  std::size_t at = 0;
  while (bytes.size() - at >= 5) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    const std::size_t length = (std::size_t{p[1]} << 24) | (p[2] << 16) | (p[3] << 8) | p[4];
    if (bytes.size() - at - 5 < length) break;
    out.frames.emplace_back(bytes[at], bytes.substr(at + 5, length));
    at += 5 + length;
  }
  out.rest = bytes.substr(at);
  return out;
}

}  // namespace sorvane::peer::testing
