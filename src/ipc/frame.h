// Frames on the pipe: kind byte, big-endian 32-bit length, payload.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/io.h"
#include "protocol/reply.h"

namespace sorvane {

enum class FrameKind : std::uint8_t {
  Json = 0x4A,
  Stdout = 0x31,
  Stderr = 0x32,
};

inline constexpr std::uint32_t MAX_FRAME_LEN = 16 * 1024 * 1024;

struct Frame {
  FrameKind kind;
  std::vector<std::uint8_t> payload;  // exactly the frame's length
};

// Header and payload in two write-all calls; over MAX_FRAME_LEN nothing is written.
IoResult<void> write_frame(ByteWriter& stream, FrameKind kind, ByteSpan payload);

// One 8192-byte buffer over the stream, for the whole conversation.
class BufferedReader {
 public:
  static constexpr std::size_t kCapacity = 8192;
  explicit BufferedReader(ByteReader& stream);
  // Fills `out` completely; false when the stream ended first (after `got` bytes).
  IoResult<std::size_t> read_up_to(MutableByteSpan out);

 private:
  IoResult<std::size_t> fill();
  ByteReader& stream_;
  std::vector<std::uint8_t> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// A frame; nothing at end of stream before the kind byte; or an I/O error.
IoResult<std::optional<Frame>> read_frame(BufferedReader& reader);

// A Json frame's payload as a Reply; failures are InvalidData errors
// carrying the decoder's description.
IoResult<Reply> decode_json(const Frame& frame);

}  // namespace sorvane
