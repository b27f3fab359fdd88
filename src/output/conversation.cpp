#include "output/conversation.h"

#include <optional>
#include <variant>

#include "ipc/connection.h"
#include "ipc/frame.h"
#include "output/host_listing.h"
#include "output/remote_output.h"
#include "output/transfer_output.h"
#include "protocol/error_code.h"
#include "protocol/reply.h"

namespace sorvane {
namespace {

constexpr std::uint32_t kFailureStatus = 255;

// The run's status once a final reply has been handled; nothing while the
// conversation goes on.
using Step = Result<std::optional<std::uint32_t>, ToolError>;

ToolError broken(const IoError& error) { return connection_broken(error.text); }

std::uint32_t report(ConsoleSink& err, const ToolError& error) {
  // A failure to write the error line is ignored: there is nowhere left to say it.
  (void)err.write_all(format_error_line(error));
  return kFailureStatus;
}

class ReplyHandler {
 public:
  ReplyHandler(OutputStreams& streams, ProgressLine& progress)
      : streams_(streams), progress_(progress) {}

  Step operator()(Reply::Progress& progress) {
    if (streams_.progress) draw_progress(progress.counters, progress_);
    return std::optional<std::uint32_t>();
  }
  Step operator()(Reply::Hosts& hosts) { return finished(print_hosts(hosts.hosts, streams_), 0); }
  Step operator()(Reply::TransferDone& done) {
    return finished(print_summary(done.summary, streams_), done.summary.failed > 0 ? 1 : 0);
  }
  Step operator()(Reply::Exit& exit) {
    return std::optional<std::uint32_t>(static_cast<std::uint32_t>(exit.code));
  }
  Step operator()(Reply::Activated&) { return std::optional<std::uint32_t>(0); }
  Step operator()(Reply::Error& error) {
    return fail(ToolError{error.code, std::move(error.message)});
  }

 private:
  static Step finished(const IoResult<void>& printed, std::uint32_t status) {
    if (!printed) return fail(broken(printed.error()));
    return std::optional<std::uint32_t>(status);
  }

  OutputStreams& streams_;
  ProgressLine& progress_;
};

class Conversation {
 public:
  Conversation(ByteReader& from_peer, OutputStreams& streams)
      : reader_(from_peer), streams_(streams), progress_(streams.err) {}

  // Handles one frame; the run's status once a final reply arrived.
  Step handle_next_frame() {
    auto frame = read_frame(reader_);
    if (!frame) return fail(broken(frame.error()));
    if (!frame->has_value()) return fail(connection_broken("unexpected end of file"));
    Frame& current = **frame;
    switch (current.kind) {
      case FrameKind::Stdout:
        return passed_on(copy_output(streams_.out, current.payload));
      case FrameKind::Stderr:
        return passed_on(copy_output(streams_.err, current.payload));
      case FrameKind::Json:
        break;
    }
    auto reply = decode_json(current);
    if (!reply) return fail(broken(reply.error()));
    if (!std::holds_alternative<Reply::Progress>(reply->value)) progress_.erase();
    return std::visit(ReplyHandler(streams_, progress_), reply->value);
  }

 private:
  static Step passed_on(const IoResult<void>& copied) {
    if (!copied) return fail(broken(copied.error()));
    return std::optional<std::uint32_t>();
  }

  BufferedReader reader_;
  OutputStreams& streams_;
  ProgressLine progress_;
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

std::uint32_t converse(ByteReader& from_peer, ByteWriter& to_peer, const Request& request,
                       OutputStreams& streams) {
  if (auto sent = send_request(to_peer, request); !sent) return report(streams.err, sent.error());
  Conversation conversation(from_peer, streams);
  for (;;) {
    auto step = conversation.handle_next_frame();
    if (!step) return report(streams.err, step.error());
    if (step->has_value()) return **step;
  }
}

std::uint32_t run_conversation(std::string_view endpoint_name, const Request& request,
                               OutputStreams& streams) {
  auto connection = connect(endpoint_name);
  if (!connection) return report(streams.err, to_tool_error(connection.error()));
  return converse(*connection, *connection, request, streams);
}

}  // namespace sorvane
