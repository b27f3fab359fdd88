// I/O errors as values, and the abstract blocking byte streams that the
// frame codec, the console sinks and the pipe connection share. No operating
// system here: the platform layer implements these interfaces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "base/result.h"

namespace sorvane {

enum class IoErrorKind {
  InvalidInput,   // the caller asked for something impossible ("frame too large")
  InvalidData,    // the bytes read make no sense ("unknown frame", JSON errors)
  UnexpectedEof,  // the stream ended where more was needed
  BrokenPipe,     // the other end went away
  Interrupted,    // a signal interrupted the call; retried by write_all/read_exact
  WriteZero,      // a write made no progress ("failed to write whole buffer")
  TimedOut,       // the deadline passed before the other side answered
  Os,             // any other system error; text carries " (os error N)"
};

struct IoError {
  IoErrorKind kind;
  std::string text;
};

// What an operation that ran into its deadline fails with.
inline IoError timed_out() { return {IoErrorKind::TimedOut, "timed out"}; }

// What a read fails with when the input goes on past what it may take.
inline IoError longer_than(std::size_t limit) {
  return {IoErrorKind::InvalidInput,
          "longer than the limit of " + std::to_string(limit) + " bytes"};
}

template <class T>
using IoResult = Result<T, IoError>;

using ByteSpan = std::span<const std::uint8_t>;
using MutableByteSpan = std::span<std::uint8_t>;

inline ByteSpan as_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A blocking source of bytes. read_some returns 0 only at end of stream.
class ByteReader {
 public:
  virtual ~ByteReader() = default;
  virtual IoResult<std::size_t> read_some(MutableByteSpan buffer) = 0;
};

// A blocking sink of bytes. write_some returns how many bytes were taken.
class ByteWriter {
 public:
  virtual ~ByteWriter() = default;
  virtual IoResult<std::size_t> write_some(ByteSpan bytes) = 0;
};

// Where text finally goes: a standard stream, or a buffer in tests.
class OutputStream {
 public:
  virtual ~OutputStream() = default;
  virtual IoResult<void> write_all(ByteSpan bytes) = 0;
  virtual IoResult<void> flush() = 0;
};

// Writes every byte, retrying on interruption; a write that takes nothing
// fails with "failed to write whole buffer".
IoResult<void> write_all(ByteWriter& writer, ByteSpan bytes);

// Everything up to the end of the stream, but never more than `limit` bytes:
// a stream that goes on (a device, a pipe that is never closed) fails with
// longer_than(limit) once it has given one byte more, instead of filling
// memory.
IoResult<std::string> read_to_end(ByteReader& reader, std::size_t limit);

}  // namespace sorvane
