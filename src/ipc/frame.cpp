#include "ipc/frame.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace sorvane {
namespace {

IoError invalid_data(std::string text) {
  return IoError{IoErrorKind::InvalidData, std::move(text)};
}

IoError incomplete_frame() {
  return IoError{IoErrorKind::UnexpectedEof, "failed to fill whole buffer"};
}

std::optional<FrameKind> frame_kind(std::uint8_t byte) {
  switch (byte) {
    case static_cast<std::uint8_t>(FrameKind::Json):
      return FrameKind::Json;
    case static_cast<std::uint8_t>(FrameKind::Stdout):
      return FrameKind::Stdout;
    case static_cast<std::uint8_t>(FrameKind::Stderr):
      return FrameKind::Stderr;
    default:
      return std::nullopt;
  }
}

// Reads exactly out.size() bytes; ending early is an error inside a frame.
IoResult<void> read_rest_of_frame(BufferedReader& reader, MutableByteSpan out) {
  auto got = reader.read_up_to(out);
  if (!got) return fail(std::move(got).error());
  if (*got < out.size()) return fail(incomplete_frame());
  return {};
}

}  // namespace

IoResult<void> write_frame(ByteWriter& stream, FrameKind kind, ByteSpan payload) {
  return write_frame(stream, kind, std::span<const ByteSpan>(&payload, 1));
}

IoResult<void> write_frame(ByteWriter& stream, FrameKind kind, std::span<const ByteSpan> parts) {
  std::size_t size = 0;
  for (const ByteSpan part : parts) size += part.size();
  if (size > MAX_FRAME_LEN) {
    return fail(IoError{IoErrorKind::InvalidInput, "frame too large"});
  }
  auto length = static_cast<std::uint32_t>(size);
  const std::array<std::uint8_t, FRAME_HEADER_LEN> header = {
      static_cast<std::uint8_t>(kind),         static_cast<std::uint8_t>(length >> 24),
      static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 8),
      static_cast<std::uint8_t>(length),
  };
  if (auto written = write_all(stream, header); !written) return written;
  for (const ByteSpan part : parts) {
    if (auto written = write_all(stream, part); !written) return written;
  }
  return {};
}

BufferedReader::BufferedReader(ByteReader& stream) : stream_(stream), buffer_(CAPACITY) {}

IoResult<std::size_t> BufferedReader::read_stream(MutableByteSpan into) {
  for (;;) {
    auto got = stream_.read_some(into);
    if (got) return got;
    switch (got.error().kind) {
      case IoErrorKind::Interrupted:
        continue;
      case IoErrorKind::BrokenPipe:
        return std::size_t{0};  // the peer closed its end
      default:
        return got;
    }
  }
}

std::size_t BufferedReader::take_buffered(MutableByteSpan out) {
  std::size_t n = std::min(out.size(), end_ - begin_);
  if (n > 0) std::memcpy(out.data(), buffer_.data() + begin_, n);
  begin_ += n;
  return n;
}

IoResult<std::size_t> BufferedReader::read_up_to(MutableByteSpan out) {
  std::size_t done = take_buffered(out);
  while (done < out.size()) {
    MutableByteSpan rest = out.subspan(done);
    if (rest.size() >= CAPACITY) {
      // Big payloads skip the extra copy through the buffer.
      auto got = read_stream(rest);
      if (!got) return got;
      if (*got == 0) break;
      done += *got;
      continue;
    }
    auto got = read_stream(buffer_);
    if (!got) return got;
    if (*got == 0) break;
    begin_ = 0;
    end_ = *got;
    done += take_buffered(rest);
  }
  return done;
}

IoResult<std::optional<Frame>> read_frame(BufferedReader& reader) {
  std::uint8_t kind_byte = 0;
  auto got = reader.read_up_to({&kind_byte, 1});
  if (!got) return fail(std::move(got).error());
  if (*got == 0) return std::optional<Frame>();

  auto kind = frame_kind(kind_byte);
  if (!kind) return fail(invalid_data("unknown frame"));

  std::array<std::uint8_t, 4> length_bytes{};
  if (auto read = read_rest_of_frame(reader, length_bytes); !read)
    return fail(std::move(read).error());
  std::uint32_t length = (std::uint32_t{length_bytes[0]} << 24) |
                         (std::uint32_t{length_bytes[1]} << 16) |
                         (std::uint32_t{length_bytes[2]} << 8) | std::uint32_t{length_bytes[3]};
  // Checked before allocating: a hostile length must not claim memory.
  if (length > MAX_FRAME_LEN) return fail(invalid_data("frame too large"));

  Frame frame{*kind, FramePayload(length)};
  if (auto read = read_rest_of_frame(reader, frame.payload); !read)
    return fail(std::move(read).error());
  return std::optional<Frame>(std::move(frame));
}

IoResult<Reply> decode_json(const Frame& frame) {
  if (frame.kind != FrameKind::Json) return fail(invalid_data("not a JSON frame"));
  std::string_view text(reinterpret_cast<const char*>(frame.payload.data()), frame.payload.size());
  auto reply = decode_reply(text);
  if (!reply) return fail(invalid_data(std::move(reply).error()));
  return std::move(reply).value();
}

}  // namespace sorvane
