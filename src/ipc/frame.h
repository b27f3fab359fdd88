// Frames on the pipe: kind byte, big-endian 32-bit length, payload.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/io.h"
#include "protocol/reply.h"

namespace sorvane {

enum class FrameKind : std::uint8_t {
  Json = 0x4A,
  Stdout = 0x31,
  Stderr = 0x32,
};

inline constexpr std::uint32_t MAX_FRAME_LEN = 16 * 1024 * 1024;
inline constexpr std::size_t FRAME_HEADER_LEN = 5;

// Leaves new elements uninitialised. A payload buffer is filled by the read
// right after it is allocated; zeroing it first cost a quarter of the
// throughput of remote output.
template <class T>
struct UninitializedAllocator {
  using value_type = T;

  UninitializedAllocator() = default;
  template <class U>
  constexpr UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept { std::allocator<T>{}.deallocate(p, n); }

  template <class U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }

  friend bool operator==(const UninitializedAllocator&, const UninitializedAllocator&) = default;
};

// Use it as a byte span (data(), size()); its type is not std::vector<uint8_t>.
using FramePayload = std::vector<std::uint8_t, UninitializedAllocator<std::uint8_t>>;

struct Frame {
  FrameKind kind;
  FramePayload payload;  // exactly the frame's length
};

// Header and payload in two write-all calls; over MAX_FRAME_LEN nothing is written.
IoResult<void> write_frame(ByteWriter& stream, FrameKind kind, ByteSpan payload);

// One frame whose payload is `parts` one after another, so that a large
// part can be shared rather than copied into each payload.
IoResult<void> write_frame(ByteWriter& stream, FrameKind kind, std::span<const ByteSpan> parts);

// One 8192-byte buffer over the stream, for the whole conversation, so bytes
// that arrive with one frame are kept for the next.
class BufferedReader {
 public:
  static constexpr std::size_t CAPACITY = 8192;
  explicit BufferedReader(ByteReader& stream);

  // Fills `out` unless the stream ends first; returns how many bytes it got
  // (fewer than out.size() only at end of stream). Interrupted reads are
  // retried and a broken pipe counts as end of stream. Large requests are
  // read straight into `out` once the buffer is drained.
  IoResult<std::size_t> read_up_to(MutableByteSpan out);

 private:
  IoResult<std::size_t> read_stream(MutableByteSpan into);
  std::size_t take_buffered(MutableByteSpan out);

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
