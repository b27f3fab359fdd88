#include "session/conversation.h"

#include <optional>
#include <variant>

#include "ipc/connection.h"
#include "ipc/frame.h"

namespace sorvane {
namespace {

ToolError broken(const IoError& error) { return connection_broken(error.text); }

// The final reply once it arrived; nothing while the conversation goes on.
using Step = Result<std::optional<Reply>, ToolError>;

class FrameLoop {
 public:
  FrameLoop(ByteReader& from_peer, ConversationEvents& events)
      : reader_(from_peer), events_(events) {}

  Step handle_next_frame() {
    auto frame = read_frame(reader_);
    if (!frame) return fail(broken(frame.error()));
    if (!frame->has_value()) return fail(connection_broken("unexpected end of file"));
    Frame& current = **frame;
    switch (current.kind) {
      case FrameKind::Stdout:
        return passed_on(events_.output(RemoteStream::Stdout, current.payload));
      case FrameKind::Stderr:
        return passed_on(events_.output(RemoteStream::Stderr, current.payload));
      case FrameKind::Json:
        break;
    }
    auto reply = decode_json(current);
    if (!reply) return fail(broken(reply.error()));
    if (auto* progress = std::get_if<Reply::Progress>(&reply->value)) {
      events_.progress(progress->counters);
      return std::optional<Reply>();
    }
    return std::optional<Reply>(std::move(*reply));
  }

 private:
  static Step passed_on(const IoResult<void>& handled) {
    if (!handled) return fail(broken(handled.error()));
    return std::optional<Reply>();
  }

  BufferedReader reader_;
  ConversationEvents& events_;
};

Result<void, ToolError> send_request(ByteWriter& to_peer, const Request& request) {
  auto encoded = encode_request(request);
  if (!encoded) return fail(connection_broken(encoded.error()));
  if (auto written = write_frame(to_peer, FrameKind::Json, as_bytes(*encoded)); !written) {
    return fail(broken(written.error()));
  }
  return {};
}

}  // namespace

FinalReply converse(ByteReader& from_peer, ByteWriter& to_peer, const Request& request,
                    ConversationEvents& events) {
  if (auto sent = send_request(to_peer, request); !sent) return fail(std::move(sent).error());
  FrameLoop loop(from_peer, events);
  for (;;) {
    auto step = loop.handle_next_frame();
    if (!step) return fail(std::move(step).error());
    if (step->has_value()) return std::move(**step);
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
