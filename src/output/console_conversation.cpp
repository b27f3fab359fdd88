#include "output/console_conversation.h"

#include <type_traits>
#include <variant>

#include "output/host_listing.h"
#include "output/inert_text.h"
#include "output/progress_line.h"
#include "output/remote_output.h"
#include "output/transfer_output.h"
#include "protocol/error_code.h"

namespace sorvane {
namespace {

constexpr std::uint32_t FAILURE_STATUS = 255;

std::uint32_t report(ConsoleSink& err, const ToolError& error) {
  // A failure to write the error line is ignored: there is nowhere left to say it.
  (void)err.write_all(inert_error_line(error));
  return FAILURE_STATUS;
}

// Remote output straight to its stream; progress on the live line.
class ConsoleEvents final : public ConversationEvents {
 public:
  explicit ConsoleEvents(OutputStreams& streams) : streams_(streams), line_(streams.err) {}

  IoResult<void> output(RemoteStream stream, ByteSpan chunk) override {
    return copy_output(stream == RemoteStream::Stdout ? streams_.out : streams_.err, chunk);
  }
  void progress(const TransferCounters& counters) override {
    if (streams_.progress) draw_progress(counters, line_);
  }

  ProgressLine& line() { return line_; }

 private:
  OutputStreams& streams_;
  ProgressLine line_;
};

using Status = Result<std::uint32_t, ToolError>;

Status printed(const IoResult<void>& written, std::uint32_t status) {
  if (!written) return fail(connection_broken(written.error().text));
  return status;
}

// What a final reply prints, and the run's status.
Status render(Reply& reply, OutputStreams& streams) {
  return std::visit(
      [&streams](auto& variant) -> Status {
        using Variant = std::decay_t<decltype(variant)>;
        if constexpr (std::is_same_v<Variant, Reply::Hosts>) {
          return printed(print_hosts(variant.hosts, streams), 0);
        } else if constexpr (std::is_same_v<Variant, Reply::TransferDone>) {
          return printed(print_summary(variant.summary, streams),
                         variant.summary.failed > 0 ? 1 : 0);
        } else if constexpr (std::is_same_v<Variant, Reply::Exit>) {
          return static_cast<std::uint32_t>(variant.code);
        } else if constexpr (std::is_same_v<Variant, Reply::Error>) {
          return fail(ToolError{variant.code, std::move(variant.message)});
        } else {
          return std::uint32_t{0};  // Activated (a Progress reply is never final)
        }
      },
      reply.value);
}

std::uint32_t finish(FinalReply reply, OutputStreams& streams, ConsoleEvents& events) {
  if (!reply) return report(streams.err, reply.error());
  events.line().erase();
  auto status = render(*reply, streams);
  if (!status) return report(streams.err, status.error());
  return *status;
}

}  // namespace

std::uint32_t run_conversation(const HeldConversation& conversation, OutputStreams& streams) {
  ConsoleEvents events(streams);
  return finish(conversation(events), streams, events);
}

std::uint32_t run_conversation(ByteReader& from_peer, ByteWriter& to_peer, const Request& request,
                               OutputStreams& streams) {
  return run_conversation(
      [&](ConversationEvents& events) { return converse(from_peer, to_peer, request, events); },
      streams);
}

}  // namespace sorvane
