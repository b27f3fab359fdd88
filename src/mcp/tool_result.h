// What a tool call comes to, as typed values: the audit log reads them as
// they are, and the CallToolResult a client receives is made of them once,
// by call_tool_result, when the server replies. A new kind of result is one
// more alternative here and one more case there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "protocol/reply.h"

namespace sorvane::mcp {

using Json = nlohmann::ordered_json;

// One remote stream as a call keeps it.
struct KeptStream {
  std::string text;
  bool truncated = false;
  std::uint64_t omitted = 0;  // bytes left out in the middle
};

// One exec's end: its exit code (none: its time limit passed first) and
// what it printed.
struct ExecOutcome {
  std::optional<std::int32_t> exit_code;
  KeptStream out;
  KeptStream err;
};

// One host of an exec on several hosts, as the audit log records it.
struct HostEnd {
  std::string id;
  std::optional<std::int32_t> exit_code;
  bool timed_out = false;
  std::optional<std::string> error;  // the error line
};

// An exec on several hosts: each host's end, and the result the client reads
// (results and groups, already bounded, and the groups as text).
struct FleetExecOutcome {
  std::vector<HostEnd> hosts;
  Json structured;
  std::string text;
  bool any_ran = false;  // no host ran: the call failed
};

// The hosts list_hosts lets the agent see.
struct HostsOutcome {
  std::vector<HostInfo> hosts;
};

// A transfer's summary; any failed file makes the call fail, as `sorvane`
// exits 1 for it, and it still tells what was copied.
struct TransferOutcome {
  TransferSummary summary;
};

// A call that must ask the client first (protocol 2026-07-28): the questions
// (`inputRequests`) and the sealed state the client sends back with its
// answers. Nothing ran.
struct InputRequired {
  Json requests;
  std::string state;
};

struct ToolResult {
  std::variant<ToolError, HostsOutcome, ExecOutcome, FleetExecOutcome, TransferOutcome,
               InputRequired>
      value;
};

bool is_error(const ToolResult& result);
// An exec stopped by its time limit before it exited.
bool timed_out(const ToolResult& result);
// The text the client reads: the error line, the groups of an exec on
// several hosts, or the structured result as compact JSON.
std::string result_text(const ToolResult& result);

// The CallToolResult: content, structuredContent (but for an error), isError;
// or the input_required result of a call that asks the client first.
Json call_tool_result(const ToolResult& result);

// The structured result of one exec: exit code, streams, truncation.
Json exec_json(const ExecOutcome& outcome);

// The error line as a result carries it: without its final line feed.
std::string error_line_text(const ToolError& error);

// JSON on one line; text that is not UTF-8 repaired rather than thrown on.
std::string dump(const Json& value);

}  // namespace sorvane::mcp
