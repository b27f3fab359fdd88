// What a run over several hosts reports: one JSON line per host for
// programs, one summary line for people, and the run's exit status.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "protocol/error_code.h"
#include "session/capped_output.h"

namespace sorvane {

// A chosen host and the label its output lines carry.
struct HostLabel {
  std::string id;
  std::optional<std::string> name;  // as the desktop application lists it, if it does
  std::string label;  // the name, or the ID where it has none or shares it with another
};

// What became of one host: the command ran to its end with an exit code,
// or the host could not be run (or not to the end), with the error line.
struct HostOutcome {
  std::optional<std::int32_t> exit_code;
  std::optional<ToolError> error;
  bool timed_out = false;  // --timeout stopped it; `error` says so
};

// {"id","name","exit_code","stdout","stderr","stdout_truncated",
// "stderr_truncated","error","timed_out"} on one line, ending with a line
// feed.
std::string host_json_line(const HostLabel& host, const HostOutcome& outcome,
                           const CappedOutput& out, const CappedOutput& err);

// How many hosts succeeded and, for each one that did not, its exit code or
// error code word; one line ending with a line feed.
std::string fan_out_summary(std::span<const HostLabel> hosts,
                            std::span<const HostOutcome> outcomes);

// 0 when every host ran and exited 0; 255 when any could not be run; else 1.
std::uint32_t fan_out_status(std::span<const HostOutcome> outcomes);

}  // namespace sorvane
