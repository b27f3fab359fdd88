// One operation on a saved host as a front end states it, and the request it
// becomes once the local checks have passed, before the desktop application
// is asked anything.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "base/io.h"
#include "protocol/error_code.h"
#include "protocol/request.h"
#include "text/native_string.h"

namespace sorvane {

// Values as given: text values are valid UTF-8, local paths any native string.
struct Operation {
  struct List {
    std::optional<std::string> query;
  };
  struct Exec {
    std::string id;
    std::optional<std::string> command;
    // The command comes from standard input; not called `stdin`, which C
    // libraries define as a macro.
    bool use_stdin = false;
  };
  struct Upload {
    std::string id;
    NativePath local;
    std::string remote;
  };
  struct Download {
    std::string id;
    std::string remote;
    NativePath local;
  };

  std::variant<List, Exec, Upload, Download> member;
};

// Where `use_stdin` gets its command (or `--hosts-file -` its IDs): all of
// standard input, as bytes, failing past `limit` bytes.
using InputReader = std::function<IoResult<std::string>(std::size_t limit)>;

// The command text for the remote shell: from the argument or from the
// input, one leading byte-order mark removed, CR LF turned into LF. Refuses
// unreadable or non-UTF-8 input and a command that is only white space.
Result<std::string, ToolError> prepare_command(const Operation::Exec& exec,
                                               const InputReader& read_input);

// `local` made absolute for the desktop application, which runs in another
// folder; refused (bad_request) as a transfer's local path is.
Result<NativePath, ToolError> absolute_local_path(const NativePath& local);

// The request of an operation; the only failures are the local ones above,
// and a local path that cannot be made absolute, all with the code bad_request.
Result<Request, ToolError> build_request(Operation operation, const InputReader& read_input);

}  // namespace sorvane
