// The four tools: their descriptions for tools/list, and one call each as a
// conversation with the desktop application, turned into a CallToolResult.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "protocol/reply.h"
#include "protocol/request.h"
#include "session/conversation.h"
#include "session/fleet.h"

namespace sorvane::mcp {

using Json = nlohmann::ordered_json;

struct Options;
class TimerClock;

enum class ToolId { ListHosts, Exec, Upload, Download };

inline constexpr std::array<ToolId, 4> ALL_TOOLS = {ToolId::ListHosts, ToolId::Exec, ToolId::Upload,
                                                    ToolId::Download};

std::optional<ToolId> find_tool(std::string_view name);
std::string_view tool_name(ToolId tool);

// The tools/list entry: name, title, description, input and output schemas,
// annotations.
Json describe_tool(ToolId tool);

// Holds one conversation: the desktop application's, or a test's stand-in.
using Converse = std::function<FinalReply(const Request&, ConversationEvents&)>;

// Where the progress of a transfer goes; empty when the caller asked for none.
using ProgressReport = std::function<void(const TransferCounters&)>;

// The last word on a built request before it is sent: nothing to let it go,
// or the error that ends the call. Empty: everything goes.
using Admit = std::function<std::optional<ToolError>(const Request&)>;

// Before the hosts of an exec on several hosts run (`exec` holds the
// command): their `started` lines and the user's confirmation naming every
// one, from the host list (or its failure). Nothing, or the error that ends
// the call.
using AdmitFleet =
    std::function<std::optional<ToolError>(const Request& exec, const std::vector<HostLabel>& hosts,
                                           const Result<std::vector<HostInfo>, ToolError>& listed)>;

// Runs `command` on the plan's hosts; the call's `stop` stops it.
using RunFleet = std::function<std::vector<HostOutcome>(
    const FleetPlan& plan, const std::string& command, FleetObserver& observer)>;

// What a call may do besides its conversation; each may be empty.
struct CallHooks {
  ProgressReport progress;  // a transfer's progress, when the client asked for it
  Admit admit;
  // Closes the conversation at once, from another thread: what the time
  // limit does when it passes. Without it the call has no limit.
  std::function<void()> stop;
  // Tells a client that asked for progress that an exec still runs, with the
  // bytes of output received so far.
  std::function<void(std::uint64_t received)> heartbeat;
  // What the time limit and the heartbeat are measured on; null: the steady
  // clock.
  TimerClock* clock = nullptr;
  AdmitFleet admit_fleet;
  RunFleet run_fleet;  // without it, exec runs on one host only
};

// How often a running exec tells the client it is alive.
inline constexpr std::chrono::seconds HEARTBEAT_INTERVAL{10};

// Why the operator keeps the agent from this host (--hosts), if it does.
std::optional<ToolError> host_refusal(const Options& options, const std::string& id);

// A tool's failure as a result: isError, and the error line as its text.
Json error_result(const ToolError& error);

// The error line as a result carries it: without its final line feed.
std::string error_line_text(const ToolError& error);

// JSON on one line; text that is not UTF-8 repaired rather than thrown on.
std::string dump(const Json& value);

// One exec's two streams as a call keeps them: each up to the limit, past
// it the first and the last half of the limit.
class ExecCapture : public ConversationEvents {
 public:
  // Output bytes received so far; safe to read from another thread.
  virtual std::uint64_t received() const = 0;
  // exit_code, stdout, stderr and their truncation flags and omitted counts;
  // with timed_out when there is no exit code.
  virtual Json exec_result(std::optional<std::int32_t> exit_code) const = 0;
};
std::unique_ptr<ExecCapture> make_exec_capture(std::uint64_t limit);

// Checks the arguments, holds the conversation and returns the
// CallToolResult. Failures of the tool itself are results with isError set,
// whose text is the error line of `sorvane` without its line feed.
Json call_tool(ToolId tool, const Json& arguments, const Options& options, const Converse& converse,
               const CallHooks& hooks);

}  // namespace sorvane::mcp
