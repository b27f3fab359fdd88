#include "session/conversation.h"

#include <variant>

#include "ipc/connection.h"
#include "ipc/frame.h"

namespace sorvane {
namespace {

ToolError broken(const IoError& error) { return connection_broken(error.text); }

Result<void, ToolError> send_request(ByteWriter& to_peer, const Request& request) {
  auto encoded = encode_request(request);
  if (!encoded) return fail(connection_broken(encoded.error()));
  if (auto written = write_frame(to_peer, FrameKind::Json, as_bytes(*encoded)); !written) {
    return fail(broken(written.error()));
  }
  return {};
}

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

}  // namespace

FinalReply converse(ByteReader& from_peer, ByteWriter& to_peer, const Request& request,
                    ConversationEvents& events) {
  if (auto sent = send_request(to_peer, request); !sent) return fail(std::move(sent).error());
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
  auto connection = connect(endpoint_name);
  if (!connection) return fail(to_tool_error(connection.error()));
  const CancellationScope scope(cancellation, *connection);
  return converse(*connection, *connection, request, events);
}

}  // namespace sorvane
