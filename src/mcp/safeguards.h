// What stands between an agent's calls and the desktop application beyond
// --tools and --hosts: local paths confined to allowed folders, the user's
// confirmation where the operator asks for it, and the audit log.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/deadline.h"
#include "ipc/cancellation.h"
#include "mcp/audit_log.h"
#include "mcp/client_requests.h"
#include "mcp/options.h"
#include "mcp/request_state.h"
#include "mcp/roots.h"
#include "mcp/tool_result.h"
#include "mcp/tools.h"

namespace sorvane::mcp {

// What a request of the stateless revision brings besides the call: the
// client's capabilities, and its answers to what an earlier request of the
// same call asked (with the state that request handed out).
struct RoundTrip {
  Json capabilities;                 // may be empty
  Json responses;                    // `inputResponses`: null when none
  std::optional<std::string> state;  // `requestState`
};

// Whether a client with `capabilities` can ask its user in a form.
bool asks_its_user(const Json& capabilities);

// One tool call, from its arrival to its lines in the audit log.
class CallRecord {
 public:
  CallRecord(std::string id, ToolId tool, const Json& arguments,
             std::optional<RoundTrip> round = std::nullopt);

  // What the call asks the client before it can run, if anything.
  std::optional<InputRequired> input_required() const;

 private:
  friend class Safeguards;
  friend class RecordingEvents;

  const std::string id_;
  const ToolId tool_;
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  mutable std::mutex mutex_;
  Json host_;
  Json arguments_;
  std::optional<CallOutcome> decided_;  // refused or declined before anything was sent
  bool admitted_ = false;               // past every check: the desktop application was asked
  std::uint64_t bytes_ = 0;
  bool closed_ = false;
  // A call of the stateless revision: the user's answer and the client's
  // roots come with the request, or are asked for in its result.
  const std::optional<RoundTrip> round_;
  const std::string arguments_digest_;
  bool roots_wanted_ = false;  // the local path needs the client's roots
  bool accepted_ = false;      // the user agreed, on this request
  // Whether the request's answers count, once checked (nothing: they do).
  std::optional<std::optional<StateRefusal>> state_checked_;
  std::optional<InputRequired> input_required_;
  // An exec on several hosts: the hosts with a `started` line, and the
  // output bytes of each.
  std::vector<std::string> started_hosts_;
  std::map<std::string, std::uint64_t> host_bytes_;
};

class Safeguards {
 public:
  using Diagnose = std::function<void(std::string_view)>;

  Safeguards(const Options& options, ClientRequests::Send send, Diagnose diagnose);

  // On the reading thread.
  void client_initialized(const Json& params);  // its name, version and capabilities
  void client_roots_changed();
  bool deliver_response(const Json& message);
  void call_cancelled();
  // Every wait on the client ends; the calls still open are recorded as
  // cancelled, and their lines are written before it returns, or by
  // `deadline` (false when a line was still being written then).
  bool input_ended(const Deadline& deadline);

  std::shared_ptr<CallRecord> open_call(ToolId tool, const Json& arguments,
                                        std::optional<RoundTrip> round = std::nullopt);
  // Whether the user confirms calls of `tool` (--confirm).
  bool confirms(ToolId tool) const;
  // Before anything is sent: the local path, the call's `started` line (no
  // line, no call), then the user's confirmation. `converse` serves the host
  // lookup for the question. Nothing, or the error that ends the call.
  std::optional<ToolError> admit(CallRecord& record, const Request& request,
                                 const Converse& converse, const Cancellation& cancellation);
  // An exec on several hosts, before any of them runs: each host's
  // `started` line (no line, no call), then the user's confirmation naming
  // every host from `listed`. Nothing, or the error that ends the call.
  std::optional<ToolError> admit_fleet(CallRecord& record, const Request& exec,
                                       const std::vector<HostLabel>& hosts,
                                       const Result<std::vector<HostInfo>, ToolError>& listed,
                                       const Cancellation& cancellation);
  // The call's conversation, counting the bytes it moves.
  static FinalReply converse_recorded(CallRecord& record, const Request& request,
                                      ConversationEvents& events, const Converse& converse);
  // The fleet's conversations, counting each host's bytes.
  static std::vector<HostOutcome> run_fleet_recorded(CallRecord& record, const FleetPlan& plan,
                                                     const std::string& command,
                                                     FleetObserver& observer, FleetStop& stop,
                                                     const RunFleet& run_fleet);
  // Writes the call's audit line, once. `result` is null when none came.
  void close_call(CallRecord& record, const ToolResult* result, bool cancelled);
  // A call refused before it became one (an unknown tool, text that cannot
  // be decoded): its one line, with outcome `refused`.
  void record_refused(std::string_view tool, const Json& arguments, std::string_view why);

 private:
  // Nothing, or why the transfer's local path is not allowed.
  std::optional<ToolError> check_local_path(CallRecord& record, const Request& request,
                                            const Cancellation& cancellation);
  std::vector<std::string> allowed_roots(const Cancellation& cancellation);
  // The roots a stateless call's client gave when it was asked, or nothing.
  std::optional<std::vector<std::string>> given_roots(CallRecord& record, const Request& request);
  // Nothing when the answers a stateless request brings count: they came
  // under a state this process sealed for this very call, still fresh and
  // never used. Checked once per request, as accepting a state spends it.
  std::optional<StateRefusal> state_refusal(CallRecord& record, const AskedCall& asked);
  std::vector<std::string> roots_in(const Json& listing);
  std::optional<std::vector<std::string>> list_client_roots(const Cancellation& cancellation);
  bool user_agrees(std::span<const HostInfo> hosts, const Request& request,
                   const Cancellation& cancellation);
  // Under --confirm for the call's tool: the user's answer on the hosts that
  // `look_up` finds. Nothing, or the error that ends the call.
  using LookUpHosts = std::function<Result<std::vector<HostInfo>, ToolError>()>;
  // A stateless call, before its `started` line: what it must ask the client
  // first (the user's confirmation, the client's roots), as the call's
  // input_required; or the user's answer, when the request carries it under
  // a state sealed for this very call. Nothing, or the error that ends the
  // call.
  std::optional<ToolError> ask_first(CallRecord& record, const Request& request,
                                     std::vector<std::string> hosts, const LookUpHosts& look_up);
  std::optional<ToolError> confirm(CallRecord& record, const Request& request,
                                   const LookUpHosts& look_up, const Cancellation& cancellation);
  // Ends the call before anything runs, as `outcome`, with `error`.
  static std::optional<ToolError> decide(CallRecord& record, CallOutcome outcome, ToolError error);
  std::string next_call_id();
  // The call's `started` line, or one host's; the error that refuses the
  // call when it cannot be written.
  std::optional<ToolError> write_started(CallRecord& record, const Json* host = nullptr);
  // The outcome lines of a call that ends with `result` (null: none came):
  // one per host for an exec on several hosts, else the call's one line.
  static std::vector<AuditEntry> outcome_lines(const CallRecord& record, AuditEntry call,
                                               const ToolResult* result);
  // A line of the audit log, with the client and the time now.
  IoResult<void> write(AuditEntry entry);

  std::vector<std::string> local_roots_;
  std::set<std::string> confirmed_tools_;
  std::uint64_t timeout_seconds_;
  std::optional<AuditLog> audit_;
  Diagnose diagnose_;
  ClientRequests requests_;
  ClientRoots client_roots_;
  ResolvePath resolve_ = resolve_on_this_machine();
  IsFolder is_folder_ = folder_test_on_this_machine();
  std::atomic<bool> client_elicits_{false};
  RequestStateSeal seal_;

  // Call ids: this server's, then a count, so that two servers on one log differ.
  const std::string call_prefix_;
  std::atomic<std::uint64_t> calls_opened_{0};

  std::mutex mutex_;
  std::condition_variable all_written_;
  Json client_ = {{"name", nullptr}, {"version", nullptr}};
  // Calls whose outcome line is not written yet.
  std::set<std::shared_ptr<CallRecord>> open_;
};

}  // namespace sorvane::mcp
