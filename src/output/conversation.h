// One conversation with the desktop application: connect, send the request,
// handle replies until a final one. Every failure is printed here.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/io.h"
#include "output/console_sink.h"
#include "protocol/request.h"

namespace sorvane {

// Returns the exit status: 0, 1, 255 or the remote command's code (32 bits).
std::uint32_t run_conversation(std::string_view endpoint_name, const Request& request,
                               OutputStreams& streams);

// The conversation after the connection is open: writes the request to
// `to_peer`, reads frames from `from_peer` until a final reply, and prints
// everything on the way, error lines included. Separate from the connection
// so it can be exercised over any byte stream.
std::uint32_t converse(ByteReader& from_peer, ByteWriter& to_peer, const Request& request,
                       OutputStreams& streams);

}  // namespace sorvane
