// `exec` on several hosts for an agent: the hosts an agent names (`hosts`)
// or finds (`query`), each host's streams kept as a one-host exec keeps
// them, and one result for the whole fleet: every host's result, the
// identical ones folded into groups, and the whole bounded.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "mcp/tool_result.h"
#include "protocol/reply.h"
#include "protocol/request.h"
#include "session/fleet.h"
#include "session/hosts.h"

namespace sorvane::mcp {

using Json = nlohmann::ordered_json;

struct Options;
struct CallHooks;
class Call;
using Converse = std::function<FinalReply(const Request&, ConversationEvents&)>;

// The hosts of a call: those it may run, in order, and those it names that
// cannot run (not allowed, or not saved), each with its error.
struct ChosenHosts {
  std::vector<HostLabel> hosts;                   // in the chosen order, runnable or not
  std::vector<std::optional<ToolError>> refused;  // per host: why it is not run
};

// The hosts of `choice` (`hosts`, each once, or `query`) from the desktop
// application's list (or its failure to give one: IDs then run unnamed; a
// query cannot).
Result<ChosenHosts, ToolError> choose_fleet_hosts(const HostChoice& choice, const HostList& listed,
                                                  const Options& options);

// How much remote output one fleet result carries, over all its results and
// groups: four times the per-stream limit.
std::uint64_t fleet_output_bound(const Options& options);

// Each host's two streams kept up to the limit, and what became of it. The
// engine calls it from its threads, one thread per host at a time.
class FleetCapture final : public FleetObserver {
 public:
  FleetCapture(std::size_t hosts, std::uint64_t limit);
  FleetCapture(const FleetCapture&) = delete;
  FleetCapture& operator=(const FleetCapture&) = delete;
  FleetCapture(FleetCapture&&) = delete;
  FleetCapture& operator=(FleetCapture&&) = delete;
  ~FleetCapture() override;

  ConversationEvents& events(std::size_t host) override;
  void ended(std::size_t host, const HostOutcome& outcome) override;

  // Output bytes from every host so far; read on the timer's thread.
  std::uint64_t received() const { return received_.load(); }
  // Host `host`'s result, and its end for the audit log; `stopped`: the
  // call's time limit ended the fleet.
  Json host_result(std::size_t host, const HostLabel& label, bool stopped) const;
  HostEnd host_end(std::size_t host, const HostLabel& label, bool stopped) const;

 private:
  class Host;
  std::vector<std::unique_ptr<Host>> hosts_;
  std::atomic<std::uint64_t> received_ = 0;
};

// The whole result: `results` (per host) and `groups` (identical results
// folded, in the order of their first host), output past the bound cut and
// marked, the groups as text, with each host's end. It fails only when no
// host ran.
FleetExecOutcome fleet_result(std::vector<Json> results, std::vector<HostEnd> ends,
                              std::uint64_t bound);

// The call itself, after its arguments were read: `exec` is the request
// with the prepared command (its host left empty).
ToolResult call_fleet_exec(const HostChoice& choice, const Request& exec,
                           std::uint64_t timeout_seconds, const Options& options,
                           const Converse& converse, Call& call, const CallHooks& hooks);

}  // namespace sorvane::mcp
