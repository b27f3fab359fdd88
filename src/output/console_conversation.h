// One conversation rendered on the console: remote output passed through,
// progress drawn, the final reply printed, and every failure printed as the
// error line.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/io.h"
#include "output/console_sink.h"
#include "protocol/request.h"

namespace sorvane {

// Connects to `endpoint_name` and runs the conversation. Returns the exit
// status: 0, 1, 255 or the remote command's code (32 bits).
std::uint32_t run_conversation(std::string_view endpoint_name, const Request& request,
                               OutputStreams& streams);

// The same over a byte stream that is already open.
std::uint32_t run_conversation(ByteReader& from_peer, ByteWriter& to_peer, const Request& request,
                               OutputStreams& streams);

}  // namespace sorvane
