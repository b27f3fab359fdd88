// The command line: its definition, help texts and the parsed record.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/duration.h"
#include "base/result.h"
#include "output/parse_outcome.h"
#include "session/operation.h"
#include "session/stream_capture.h"
#include "text/native_string.h"

namespace sorvane {

inline constexpr std::string_view PROGRAM_NAME = "sorvane";
inline constexpr unsigned DEFAULT_PARALLEL = 8;

// The options of a run on several hosts, the same for exec, upload and
// download.
struct FleetOptions {
  // The hosts `list -q` shows, instead of IDs.
  std::optional<std::string> query = {};
  // A file of IDs, one per line, instead; "-" is standard input.
  std::optional<NativePath> hosts_file = {};
  // For several hosts only, except `json`, which upload and download take
  // for one host too:
  bool json = false;
  unsigned parallel = DEFAULT_PARALLEL;
  std::optional<std::chrono::milliseconds> timeout = {};
  // After this many failed hosts no new one starts; --fail-fast is 1.
  std::optional<std::uint32_t> max_fail = {};
  bool fail_fast = false;
};

// The parsed command line: exactly one subcommand, its operation and, where
// the subcommand has one, the `--json` flag. Values are kept exactly as
// given; the parser refuses an empty local path.
struct Cli {
  struct List : Operation::List {
    bool json = false;
  };
  // `id` is one host ID, or several separated by commas.
  struct Exec : Operation::Exec, FleetOptions {
    explicit Exec(Operation::Exec exec = {}) : Operation::Exec(std::move(exec)) {}
    std::uint64_t max_output = DEFAULT_MAX_OUTPUT;
    bool gather = false;  // identical results shown once, after every host has ended
  };
  struct Upload : Operation::Upload, FleetOptions {
    explicit Upload(Operation::Upload upload = {}, bool json_wanted = false)
        : Operation::Upload(std::move(upload)) {
      json = json_wanted;
    }
  };
  struct Download : Operation::Download, FleetOptions {
    explicit Download(Operation::Download download = {}, bool json_wanted = false)
        : Operation::Download(std::move(download)) {
      json = json_wanted;
    }
  };

  std::variant<List, Exec, Upload, Download> command;
};

// How the user asked for the failure policy ("--fail-fast", "--max-fail 3"),
// and after how many failures it stops; nothing without one.
std::optional<std::pair<std::uint32_t, std::string>> failure_policy(const FleetOptions& options);

// Whether a command runs on several hosts: chosen by a query, a hosts file,
// or a list of IDs.
bool runs_on_several_hosts(const FleetOptions& options, std::string_view id);
bool runs_on_several_hosts(const Cli::Exec& exec);

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
