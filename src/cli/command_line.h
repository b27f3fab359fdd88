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
#include "output/parse_outcome.h"
#include "session/capped_output.h"
#include "session/operation.h"
#include "text/native_string.h"

namespace sorvane {

inline constexpr std::string_view PROGRAM_NAME = "sorvane";
inline constexpr unsigned DEFAULT_PARALLEL = 8;

// The parsed command line: exactly one subcommand, its operation and, where
// the subcommand has one, the `--json` flag. Values are kept exactly as
// given; the parser refuses an empty local path.
struct Cli {
  struct List : Operation::List {
    bool json = false;
  };
  // `id` is one host ID, or several separated by commas.
  struct Exec : Operation::Exec {
    // The hosts `list -q` shows, instead of `id`.
    std::optional<std::string> query = {};
    // For several hosts only:
    bool json = false;
    unsigned parallel = DEFAULT_PARALLEL;
    std::optional<std::chrono::milliseconds> timeout = {};
    std::uint64_t max_output = DEFAULT_MAX_OUTPUT;
    bool gather = false;  // identical results shown once, after every host has ended
  };
  struct Upload : Operation::Upload {
    bool json = false;
  };
  struct Download : Operation::Download {
    bool json = false;
  };

  std::variant<List, Exec, Upload, Download> command;
};

// Whether `exec` runs on several hosts: chosen by a query, or a list of IDs.
bool runs_on_several_hosts(const Cli::Exec& exec);

// "30s", "5m", "1h", "500ms"; a bare number counts seconds. Nothing for
// zero, other units or more than a year.
std::optional<std::chrono::milliseconds> parse_duration(std::string_view text);

// The duration in its largest whole unit ("90s", "2m", "1500ms"), which
// parse_duration reads back.
std::string format_duration(std::chrono::milliseconds duration);

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
