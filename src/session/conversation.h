// One conversation with the desktop application as a stream of events: send
// the request, read frames; remote output and progress go to the caller's
// events as they arrive, and the final reply comes back. The console renderer
// of `sorvane` and the MCP server both consume it. A conversation keeps all
// its state to itself (connection, reader, buffers), so one process may hold
// several at once, each on a thread of its own.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "base/io.h"
#include "base/result.h"
#include "ipc/cancellation.h"
#include "protocol/error_code.h"
#include "protocol/reply.h"
#include "protocol/request.h"

namespace sorvane {

enum class RemoteStream { Stdout, Stderr };

// What a conversation hands on before its final reply; passed over unless a
// subclass wants it.
class ConversationEvents {
 public:
  virtual ~ConversationEvents() = default;
  // A Stdout or Stderr frame's payload. A failure breaks the conversation.
  virtual IoResult<void> output(RemoteStream, ByteSpan) { return {}; }
  // A Progress reply.
  virtual void progress(const TransferCounters&) {}
  // Bytes of the reply came in, whole frames or not: the other side is alive
  // even while a long frame trickles in.
  virtual void arrived(std::size_t /*bytes*/) {}
};

// The final reply (never a Progress one), or the failure that broke the
// conversation, with the code and message of the error line.
using FinalReply = Result<Reply, ToolError>;

// A request whose envelope cannot go in one frame is refused (bad_request,
// naming the limit) before anything is sent.
Result<void, ToolError> check_fits_one_frame(std::size_t envelope_size);

// The same refusal for a command read from standard input that went on past
// one frame, where reading stopped.
ToolError command_over_one_frame();

// The request's envelope, refused as above when it cannot go in one frame.
Result<std::string, ToolError> encode_for_one_frame(const Request& request);

// The conversation over an open byte stream.
FinalReply converse(ByteReader& from_peer, ByteWriter& to_peer, const Request& request,
                    ConversationEvents& events);

// The same, with the request already encoded: its envelope is `envelope`,
// one part after another (see ExecEnvelope).
FinalReply converse(ByteReader& from_peer, ByteWriter& to_peer, std::span<const ByteSpan> envelope,
                    ConversationEvents& events);

// Connects to `endpoint_name` (once the request is known to fit in a
// frame), checks the owner and converses; the
// connection is closed before it returns. With `cancellation`, another
// thread can end the conversation at any point.
FinalReply converse(std::string_view endpoint_name, const Request& request,
                    ConversationEvents& events, Cancellation* cancellation = nullptr);

}  // namespace sorvane
