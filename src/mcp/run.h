// The whole life of one sorvane-mcp process.
#pragma once

#include <cstdint>
#include <span>

#include "text/native_string.h"

namespace sorvane::mcp {

// Parses the arguments (program path first) and serves MCP on standard
// input and output until the input ends. Returns the exit status: 0, or 2
// for a bad command line; the end of input ends the process itself, without
// waiting for calls still open.
std::uint32_t run(std::span<const NativeString> arguments);

}  // namespace sorvane::mcp
