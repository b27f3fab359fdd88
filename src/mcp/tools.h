// The four tools, one call each as a conversation with the desktop
// application, turned into a typed ToolResult.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mcp/tool_catalog.h"
#include "mcp/tool_result.h"
#include "protocol/reply.h"
#include "protocol/request.h"
#include "session/conversation.h"
#include "session/fleet.h"

namespace sorvane::mcp {

struct Options;
class Call;

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

// Runs `command` on the plan's hosts; `stop` stops them at once.
using RunFleet = std::function<std::vector<HostOutcome>(
    const FleetPlan& plan, const std::string& command, FleetObserver& observer, FleetStop& stop)>;

// What a call may do besides its conversation; each may be empty.
struct CallHooks {
  ProgressReport progress;  // a transfer's progress, when the client asked for it
  Admit admit;
  AdmitFleet admit_fleet;
  RunFleet run_fleet;  // without it, exec runs on one host only
};

// Why the operator keeps the agent from this host (--hosts), if it does.
std::optional<ToolError> host_refusal(const Options& options, const std::string& id);

// One exec's two streams as a call keeps them: each up to the limit, past
// it the first and the last half of the limit.
class ExecCapture : public ConversationEvents {
 public:
  // Output bytes received so far; safe to read from another thread.
  virtual std::uint64_t received() const = 0;
  // The streams as kept, with `exit_code` (none: the time limit passed first).
  virtual ExecOutcome outcome(std::optional<std::int32_t> exit_code) const = 0;
};
std::unique_ptr<ExecCapture> make_exec_capture(std::uint64_t limit);

// Checks the arguments, holds the conversation and returns what it came to.
// Failures of the tool itself are ToolErrors, whose line is the error line
// of `sorvane`. The call's time limit and heartbeat run on `call`'s clock,
// and stop it through `call`.
ToolResult call_tool(ToolId tool, const Json& arguments, const Options& options,
                     const Converse& converse, Call& call, const CallHooks& hooks = {});

}  // namespace sorvane::mcp
