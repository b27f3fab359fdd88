// The command line: its definition, help texts and the parsed record.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "output/parse_outcome.h"
#include "session/operation.h"
#include "text/native_string.h"

namespace sorvane {

inline constexpr std::string_view PROGRAM_NAME = "sorvane";

// The parsed command line: exactly one subcommand, its operation and, where
// the subcommand has one, the `--json` flag. Values are kept exactly as
// given; the parser refuses an empty local path.
struct Cli {
  struct List : Operation::List {
    bool json = false;
  };
  using Exec = Operation::Exec;  // exec has no --json
  struct Upload : Operation::Upload {
    bool json = false;
  };
  struct Download : Operation::Download {
    bool json = false;
  };

  std::variant<List, Exec, Upload, Download> command;
};

// `arguments` is the process's argument vector, program path first. Only the
// subcommand that the first word names is defined, when it names one;
// `define_all` defines them all, for the test that keeps both alike.
Result<Cli, ParseOutcome> parse(std::span<const NativeString> arguments, bool define_all = false);

// The shape of the command line as the parser defines it, so that shell
// completion can never offer what the parser would refuse.
struct ArgumentShape {
  std::vector<std::string> names;  // "-q", "--query"; for a positional its value name ("ID")
  std::string help;
  bool positional = false;
  bool takes_value = false;  // options only
};

struct CommandShape {
  std::string name;  // "sorvane" for the top level
  std::string about;
  std::vector<ArgumentShape> arguments;  // in definition order
};

// The top level first, then each subcommand in the order of the help listing.
std::vector<CommandShape> command_shapes();

}  // namespace sorvane
