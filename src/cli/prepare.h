// From the parsed command line to the one request of the run, with the local
// checks that must pass before the desktop application is asked anything.
#pragma once

#include <functional>
#include <string>

#include "base/io.h"
#include "cli/command_line.h"
#include "protocol/error_code.h"
#include "protocol/request.h"
#include "text/native_string.h"

namespace sorvane {

// Where `exec --stdin` gets its command: all of standard input, as bytes.
using InputReader = std::function<IoResult<std::string>()>;

// The command text for the remote shell: from the argument or from the
// input, one leading byte-order mark removed, CR LF turned into LF. Refuses
// unreadable or non-UTF-8 input and a command that is only white space.
Result<std::string, ToolError> prepare_command(const Cli::Exec& exec,
                                               const InputReader& read_input);

// The request of a run; the only failures are the local ones above, all
// with the code bad_request.
Result<Request, ToolError> build_request(Cli cli, const InputReader& read_input);

// JSON for programs: asked for, or standard output is not a terminal.
bool wants_json(const Cli& cli, bool stdout_is_terminal);

}  // namespace sorvane
