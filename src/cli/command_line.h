// The command line: its definition, help texts and the parsed record.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "output/captured_output.h"
#include "text/native_string.h"

namespace sorvane {

inline constexpr std::string_view kProgramName = "sorvane";
inline constexpr unsigned DEFAULT_PARALLEL = 8;

// The parsed command line: exactly one subcommand. Values are kept exactly as
// given; text values are valid UTF-8, local paths any native string but empty.
struct Cli {
  struct List {
    std::optional<std::string> query;
    bool json = false;
  };
  struct Exec {
    std::string id;  // one host ID, or several separated by commas
    std::optional<std::string> command;
    // The `--stdin` flag; not called `stdin`, which C libraries define as a macro.
    bool use_stdin = false;
    // The hosts `list -q` shows, instead of `id`.
    std::optional<std::string> query = {};
    // For several hosts only:
    bool json = false;
    unsigned parallel = DEFAULT_PARALLEL;
    std::optional<std::chrono::milliseconds> timeout = {};
    std::uint64_t max_output = DEFAULT_MAX_OUTPUT;
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

// Whether `exec` runs on several hosts: chosen by a query, or a list of IDs.
bool runs_on_several_hosts(const Cli::Exec& exec);

// "30s", "5m", "1h", "500ms"; a bare number counts seconds. Nothing for
// zero, other units or more than a year.
std::optional<std::chrono::milliseconds> parse_duration(std::string_view text);

// What the parser says instead of a Cli: help, version or an error, already
// rendered, with the stream it belongs on and the exit status.
struct ParseOutcome {
  std::string text;
  bool to_stdout = false;
  int status = 2;
};

// `arguments` is the process's argument vector, program path first.
Result<Cli, ParseOutcome> parse(std::span<const NativeString> arguments);

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
