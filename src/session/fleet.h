// One operation (exec, upload or download) on many hosts: the chosen hosts
// run `parallel` at a time through one shared endpoint, each with its own
// deadline, under a failure policy, and each host's events and outcome go to
// the caller. Both front ends run on it; neither opens a conversation of its
// own for several hosts.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/io.h"
#include "base/result.h"
#include "ipc/cancellation.h"
#include "protocol/error_code.h"
#include "protocol/reply.h"
#include "protocol/request.h"
#include "session/conversation.h"
#include "text/native_string.h"

namespace sorvane {

class SharedEndpoint;

// A chosen host and the label its output carries.
struct HostLabel {
  std::string id;
  std::optional<std::string> name;  // as the desktop application lists it, if it does
  // The name; the ID where it has none or shares it with another; the name
  // with the ID, "web (a1b2)", where the name reads like another's label or ID.
  std::string label;
};

// What became of one host.
struct HostOutcome {
  std::optional<std::int32_t> exit_code;  // exec ran to its end
  // The host could not be run, or not to the end, or was not started at all:
  // the error line.
  std::optional<ToolError> error;
  bool timed_out = false;  // its deadline stopped it; `error` says so
  bool not_run = false;    // the failure policy kept it from starting; `error` says so
  std::optional<TransferSummary> transfer = {};  // a transfer ended with its summary
};

// Whether a host counts against the failure policy: a non-zero exit, a
// transfer with failed files, an error or a timeout.
bool failed(const HostOutcome& outcome);

// What each host is sent: one frame, as parts written one after another, so
// that a large command is encoded once and shared by every host.
class FleetOperation {
 public:
  virtual ~FleetOperation() = default;
  // The frame's parts for `host`; `own` is storage of the host's own for the
  // parts that are not shared, alive until the frame is written. A request
  // that cannot be built or sent for this host is that host's error.
  virtual Result<void, ToolError> frame_for(const HostLabel& host, std::vector<ByteSpan>& parts,
                                            std::string& own) const = 0;
};

struct FleetPlan {
  std::vector<HostLabel> hosts;
  unsigned parallel = 8;
  // Each host's, counted from when its connection opens: waiting for a turn
  // behind our own conversations is not the host's time.
  std::optional<std::chrono::milliseconds> timeout;
  // After this many failed hosts no new host starts (--fail-fast is 1);
  // those running finish.
  std::optional<std::uint32_t> max_fail;
  // How the caller's user asked for `max_fail` ("--fail-fast", "--max-fail 3"),
  // for the line of each host not run because of it; may be empty.
  std::string failure_policy = {};
};

// Hears of each host as it goes, from the engine's threads; the calls for
// one host come from one thread at a time.
class FleetObserver {
 public:
  virtual ~FleetObserver() = default;
  // The host's events, asked for once, before its conversation starts.
  virtual ConversationEvents& events(std::size_t host) = 0;
  // Every host ends exactly once, run or not.
  virtual void ended(std::size_t host, const HostOutcome& outcome) = 0;
};

// What became of the host whose conversation ended with `reply`: its exit
// code, its transfer's summary, or the error line.
HostOutcome outcome_of(FinalReply reply);

// Stops a fleet from another thread (Ctrl-C, MCP cancellation, a call's time
// limit): no new host starts, and every open conversation is shut down at
// once. Hosts stopped while running end with an error; those not yet started
// with not_run.
class FleetStop {
 public:
  void stop() { cancellation_.cancel(); }
  bool stopped() const { return cancellation_.cancelled(); }
  Cancellation& cancellation() { return cancellation_; }

 private:
  Cancellation cancellation_;
};

// One host's conversation: what run_fleet holds for each host it starts.
using HostConverse = std::function<HostOutcome(const HostLabel& host, ConversationEvents& events)>;

// Runs every host of the plan, `plan.parallel` at a time; the outcomes in the
// plan's order. Each host: observer.events(i), `converse`, then
// observer.ended(i, outcome). A host that the failure policy or a stop kept
// from starting ends with not_run and the error line "not run: <why>"
// (connect_failed), without events.
std::vector<HostOutcome> run_fleet(const FleetPlan& plan, const HostConverse& converse,
                                   FleetObserver& observer, FleetStop* stop = nullptr);

// The same, each host's conversation on a connection that `endpoint` opens
// when the host's turn comes, its deadline `plan.timeout` from then (a host
// it stops: timed_out, "timed out after 30s").
std::vector<HostOutcome> run_fleet(const FleetPlan& plan, SharedEndpoint& endpoint,
                                   const FleetOperation& operation, FleetObserver& observer,
                                   FleetStop* stop = nullptr);

// ---- Operations ----

// One command on every host: encoded once, and every host's frame is the
// shared parts around its own quoted ID.
class ExecOnHosts final : public FleetOperation {
 public:
  explicit ExecOnHosts(std::string_view command) : envelope_(encode_exec_envelope(command)) {}
  Result<void, ToolError> frame_for(const HostLabel& host, std::vector<ByteSpan>& parts,
                                    std::string& own) const override;
  // Refuses (bad_request) when the frame for the longest of `ids` would not
  // fit, so that a run can be refused before anything is asked.
  Result<void, ToolError> check_fits(const std::vector<std::string>& ids) const;

 private:
  ExecEnvelope envelope_;
};

// The same local path (absolute) to the same remote path on every host.
class UploadToHosts final : public FleetOperation {
 public:
  UploadToHosts(NativePath local, std::string remote)
      : local_(std::move(local)), remote_(std::move(remote)) {}
  Result<void, ToolError> frame_for(const HostLabel& host, std::vector<ByteSpan>& parts,
                                    std::string& own) const override;

 private:
  NativePath local_;
  std::string remote_;
};

// The same remote path from every host, each into a local path (absolute)
// of its own; a host that cannot have one gets the error instead.
class DownloadFromHosts final : public FleetOperation {
 public:
  using LocalFor = std::function<Result<NativePath, ToolError>(const HostLabel&)>;
  DownloadFromHosts(std::string remote, LocalFor local_for)
      : remote_(std::move(remote)), local_for_(std::move(local_for)) {}
  Result<void, ToolError> frame_for(const HostLabel& host, std::vector<ByteSpan>& parts,
                                    std::string& own) const override;

 private:
  std::string remote_;
  LocalFor local_for_;
};

}  // namespace sorvane
