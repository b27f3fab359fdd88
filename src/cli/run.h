// The whole life of one process of the tool.
#pragma once

#include <cstdint>
#include <span>

#include "cli/command_line.h"
#include "text/native_string.h"

namespace sorvane {

// Parses the arguments (program path first), prepares and sends the one
// request, prints everything, and returns the exit status: 0 or 2 for help,
// version and command-line errors, 255 for local failures, otherwise what
// the conversation returns (a remote command's code keeps all 32 bits).
std::uint32_t run(std::span<const NativeString> arguments);

// The operation the command line asks for; the `--json` flags stay behind.
Operation operation_of(Cli cli);

// JSON for programs: asked for, or standard output is not a terminal.
bool wants_json(const Cli& cli, bool stdout_is_terminal);

}  // namespace sorvane
