// One conversation rendered on the console: remote output passed through,
// progress drawn, the final reply printed, and every failure printed as the
// error line.
#pragma once

#include <cstdint>
#include <functional>

#include "base/io.h"
#include "output/console_sink.h"
#include "protocol/request.h"
#include "session/conversation.h"

namespace sorvane {

// A conversation that session/ holds (connecting first, if it must),
// telling `events` as it goes.
using HeldConversation = std::function<FinalReply(ConversationEvents& events)>;

// Renders the events that `conversation` hands over and its final reply.
// Returns the exit status: 0, 1, 255 or the remote command's code (32 bits).
std::uint32_t run_conversation(const HeldConversation& conversation, OutputStreams& streams);

// The same over a byte stream that is already open.
std::uint32_t run_conversation(ByteReader& from_peer, ByteWriter& to_peer, const Request& request,
                               OutputStreams& streams);

}  // namespace sorvane
