// The command line: its definition, help texts and the parsed record.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "text/native_string.h"

namespace sorvane {

inline constexpr std::string_view kProgramName = "sorvane";

// The parsed command line: exactly one subcommand. Values are kept exactly as
// given; text values are valid UTF-8, local paths any native string but empty.
struct Cli {
  struct List {
    std::optional<std::string> query;
    bool json = false;
  };
  struct Exec {
    std::string id;
    std::optional<std::string> command;
    // The `--stdin` flag; not called `stdin`, which C libraries define as a macro.
    bool use_stdin = false;
  };
  struct Upload {
    std::string id;
    NativePath local;
    std::string remote;
    bool json = false;
  };
  struct Download {
    std::string id;
    std::string remote;
    NativePath local;
    bool json = false;
  };

  std::variant<List, Exec, Upload, Download> command;
};

// What the parser says instead of a Cli: help, version or an error, already
// rendered, with the stream it belongs on and the exit status.
struct ParseOutcome {
  std::string text;
  bool to_stdout = false;
  int status = 2;
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
