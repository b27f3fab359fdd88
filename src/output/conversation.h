// One conversation with the desktop application: connect, send the request,
// handle replies until a final one. Every failure is printed here.
#pragma once

#include <cstdint>
#include <string_view>

#include "output/console_sink.h"
#include "protocol/request.h"

namespace sorvane {

// Returns the exit status: 0, 1, 255 or the remote command's code (32 bits).
std::uint32_t run_conversation(std::string_view endpoint_name, Request request,
                               OutputStreams& streams);

}  // namespace sorvane
