// Arbitrary bytes as the pipe: frames are read until end of stream or an
// error, Json frames are decoded, and every frame delivered is checked
// against a plain reading of the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "ipc/frame.h"

namespace {

using sorvane::ByteReader;
using sorvane::IoError;
using sorvane::IoErrorKind;
using sorvane::IoResult;
using sorvane::MutableByteSpan;

// Hands the bytes out in chunks whose sizes come from the input itself, with
// an interruption now and then, so buffer boundaries fall everywhere.
class ChunkedReader : public ByteReader {
 public:
  ChunkedReader(std::span<const std::uint8_t> bytes, std::uint8_t pattern)
      : bytes_(bytes), pattern_(pattern) {}

  IoResult<std::size_t> read_some(MutableByteSpan out) override {
    ++calls_;
    if ((pattern_ & 0x80) != 0 && calls_ % 3 == 0) {
      return sorvane::fail(IoError{IoErrorKind::Interrupted, "interrupted"});
    }
    std::size_t chunk = (pattern_ & 0x7F) == 0
                            ? out.size()
                            : static_cast<std::size_t>((pattern_ & 0x7F) * calls_ % 9000 + 1);
    std::size_t n = std::min({chunk, out.size(), bytes_.size()});
    if (n > 0) std::memcpy(out.data(), bytes_.data(), n);
    bytes_ = bytes_.subspan(n);
    return n;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::uint8_t pattern_;
  std::size_t calls_ = 0;
};

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::span<const std::uint8_t> stream(data + 1, size - 1);
  ChunkedReader source(stream, data[0]);
  sorvane::BufferedReader reader(source);

  std::size_t at = 0;  // where the plain reading says the next frame starts
  for (;;) {
    auto frame = sorvane::read_frame(reader);
    if (!frame) {
      check(frame.error().kind == IoErrorKind::InvalidData ||
            frame.error().kind == IoErrorKind::UnexpectedEof);
      return 0;
    }
    if (!*frame) {
      check(at == stream.size());
      return 0;
    }
    const sorvane::Frame& got = **frame;
    check(at + 5 <= stream.size());
    check(static_cast<std::uint8_t>(got.kind) == stream[at]);
    std::size_t length = (std::size_t{stream[at + 1]} << 24) | (std::size_t{stream[at + 2]} << 16) |
                         (std::size_t{stream[at + 3]} << 8) | stream[at + 4];
    check(got.payload.size() == length && length <= sorvane::MAX_FRAME_LEN);
    check(length == 0 || std::memcmp(got.payload.data(), stream.data() + at + 5, length) == 0);
    at += 5 + length;
    if (got.kind == sorvane::FrameKind::Json) {
      auto reply = sorvane::decode_json(got);
      check(reply || reply.error().kind == IoErrorKind::InvalidData);
    }
  }
}
