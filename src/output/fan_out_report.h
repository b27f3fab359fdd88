// What a run over several hosts reports: one JSON line per host for
// programs, one summary line for people, and the run's exit status.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "protocol/error_code.h"
#include "session/fleet.h"
#include "session/stream_capture.h"

namespace sorvane {

// {"id","name","exit_code","stdout","stderr","stdout_truncated",
// "stderr_truncated","error","timed_out"} on one line, ending with a line
// feed.
std::string host_json_line(const HostLabel& host, const HostOutcome& outcome,
                           const StreamCapture& out, const StreamCapture& err);

// {"id","name","files","bytes","failed","failures","error"} on one line,
// ending with a line feed: a transfer's summary, the counts null and no
// failures where the host ended without one.
std::string transfer_json_line(const HostLabel& host, const HostOutcome& outcome);

// A group of hosts with the same output and result, for --gather:
// {"hosts":[{"id","name"},...],"exit_code","stdout","stderr",
// "stdout_truncated","stderr_truncated","error","timed_out"} on one line,
// ending with a line feed.
std::string group_json_line(std::span<const HostLabel> hosts, const HostOutcome& outcome,
                            const StreamCapture& out, const StreamCapture& err);

// How many hosts succeeded and, for each one that did not, its exit code or
// error code word or its failed files' count; one line ending with a line feed.
std::string fan_out_summary(std::span<const HostLabel> hosts,
                            std::span<const HostOutcome> outcomes);

// 0 when every host ran and exited 0 or moved every file; 255 when any
// could not be run; else 1.
std::uint32_t fan_out_status(std::span<const HostOutcome> outcomes);

}  // namespace sorvane
