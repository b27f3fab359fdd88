// One conversation with the desktop application as a stream of events:
// connect, send the request, read frames; remote output and progress go to
// the caller's handler as they arrive, and the final reply comes back. The
// console renderer of `sorvane` and the MCP server both consume it.
#pragma once

#include <string_view>

#include "base/io.h"
#include "base/result.h"
#include "ipc/cancellation.h"
#include "protocol/error_code.h"
#include "protocol/reply.h"
#include "protocol/request.h"

namespace sorvane {

enum class RemoteStream { Stdout, Stderr };

// What a conversation hands on before its final reply.
class ConversationEvents {
 public:
  virtual ~ConversationEvents() = default;
  // A Stdout or Stderr frame's payload. A failure breaks the conversation.
  virtual IoResult<void> output(RemoteStream stream, ByteSpan chunk) = 0;
  // A Progress reply.
  virtual void progress(const TransferCounters& counters) = 0;
};

// The final reply (never a Progress one), or the failure that broke the
// conversation, with the code and message of the error line.
using FinalReply = Result<Reply, ToolError>;

// The conversation over an open byte stream.
FinalReply exchange(ByteReader& from_peer, ByteWriter& to_peer, const Request& request,
                    ConversationEvents& events);

// Connects to `endpoint_name`, checks the owner and holds the conversation;
// the connection is closed before it returns. With `cancellation`, another
// thread can end the conversation at any point.
FinalReply hold_conversation(std::string_view endpoint_name, const Request& request,
                             ConversationEvents& events, Cancellation* cancellation = nullptr);

}  // namespace sorvane
