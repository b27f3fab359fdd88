#include "session/conversation.h"

#include <string>
#include <variant>

#include "ipc/connection.h"
#include "ipc/frame.h"

namespace sorvane {
namespace {

ToolError broken(const IoError& error) { return connection_broken(error.text); }

// Tells the events of every read that brought bytes, before any frame is whole.
class ArrivalReporter final : public ByteReader {
 public:
  ArrivalReporter(ByteReader& from_peer, ConversationEvents& events)
      : from_peer_(from_peer), events_(events) {}

  IoResult<std::size_t> read_some(MutableByteSpan buffer) override {
    auto got = from_peer_.read_some(buffer);
    if (got && *got > 0) events_.arrived(*got);
    return got;
  }

 private:
  ByteReader& from_peer_;
  ConversationEvents& events_;
};

ToolError command_too_long(const std::string& how_long) {
  return ToolError{ErrorCode::BadRequest, "命令过长：" + how_long + "，超过一帧的上限 " +
                                              std::to_string(MAX_FRAME_LEN) + " 字节（16 MiB）"};
}

}  // namespace

Result<void, ToolError> check_fits_one_frame(std::size_t envelope_size) {
  if (envelope_size <= MAX_FRAME_LEN) return {};
  return fail(command_too_long("请求编码后为 " + std::to_string(envelope_size) + " 字节"));
}

ToolError command_over_one_frame() { return command_too_long("标准输入仍未结束"); }

// Checked before anything is opened.
Result<std::string, ToolError> encode_for_one_frame(const Request& request) {
  auto encoded = encode_request(request);
  if (!encoded) return fail(connection_broken(encoded.error()));
  if (auto fits = check_fits_one_frame(encoded->size()); !fits)
    return fail(std::move(fits).error());
  return std::move(*encoded);
}

FinalReply converse(ByteReader& from_peer, ByteWriter& to_peer, const Request& request,
                    ConversationEvents& events) {
  auto encoded = encode_for_one_frame(request);
  if (!encoded) return fail(std::move(encoded).error());
  const ByteSpan envelope = as_bytes(*encoded);
  return converse(from_peer, to_peer, std::span(&envelope, 1), events);
}

FinalReply converse(ByteReader& from_peer, ByteWriter& to_peer, std::span<const ByteSpan> envelope,
                    ConversationEvents& events) {
  if (auto written = write_frame(to_peer, FrameKind::Json, envelope); !written) {
    return fail(broken(written.error()));
  }
  ArrivalReporter reporting(from_peer, events);
  BufferedReader reader(reporting);
  for (;;) {
    auto frame = read_frame(reader);
    if (!frame) return fail(broken(frame.error()));
    if (!frame->has_value()) return fail(connection_broken("unexpected end of file"));
    const Frame& current = **frame;
    if (current.kind != FrameKind::Json) {
      const bool is_stdout = current.kind == FrameKind::Stdout;
      auto passed =
          events.output(is_stdout ? RemoteStream::Stdout : RemoteStream::Stderr, current.payload);
      if (!passed) return fail(broken(passed.error()));
      continue;
    }
    auto reply = decode_json(current);
    if (!reply) return fail(broken(reply.error()));
    const auto* progress = std::get_if<Reply::Progress>(&reply->value);
    if (progress == nullptr) return std::move(*reply);
    events.progress(progress->counters);
  }
}

FinalReply converse(std::string_view endpoint_name, const Request& request,
                    ConversationEvents& events, Cancellation* cancellation) {
  auto encoded = encode_for_one_frame(request);
  if (!encoded) return fail(std::move(encoded).error());
  auto connection = connect(endpoint_name);
  if (!connection) return fail(to_tool_error(connection.error()));
  const CancellationScope scope(cancellation, *connection);
  const ByteSpan envelope = as_bytes(*encoded);
  return converse(*connection, *connection, std::span(&envelope, 1), events);
}

}  // namespace sorvane
