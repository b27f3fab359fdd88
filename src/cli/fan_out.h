// `sorvane exec` on several hosts: choosing them, one conversation per host
// on a bounded set of threads, each host's lines behind its name (or one
// JSON line per host), a summary, and the status of the whole run.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "output/console_sink.h"
#include "output/fan_out_report.h"
#include "session/conversation.h"
#include "session/operation.h"

namespace sorvane {

// The hosts that `list` shows for a query (nothing: all of them), or the
// failure of asking.
using HostLister =
    std::function<Result<std::vector<HostInfo>, ToolError>(const std::optional<std::string>&)>;

// The chosen hosts, in order: those the query finds, in the order `list`
// shows them, or the IDs of the list (each once, empty items skipped) with
// their names where the desktop application knows them. When it cannot say,
// the IDs are run all the same, without names: naming the hosts is no reason
// to stop a run that names them itself. An empty choice, or an empty query,
// is an error.
Result<std::vector<HostLabel>, ToolError> choose_hosts(const Cli::Exec& exec,
                                                       const HostLister& list_hosts);

// What became of the host whose conversation ended with `reply`.
HostOutcome outcome_of(FinalReply reply);

// One host's conversation, given its ID, which `events` hears of as it goes.
using HostConversation = std::function<HostOutcome(std::string_view host, ConversationEvents&)>;

struct FanOutPlan {
  std::vector<HostLabel> hosts;
  unsigned parallel = DEFAULT_PARALLEL;
  bool json = false;
  std::uint64_t max_output = DEFAULT_MAX_OUTPUT;
  bool colour_out = false;  // colour the prefixes on standard output
  bool colour_err = false;  // ... and on standard error
  bool summary = false;     // the summary line at the end
  bool gather = false;      // equal results shown once, after every host has ended
};

// Runs the plan, writing through `streams` from several threads (one lock
// for both), and returns the status.
std::uint32_t fan_out(const FanOutPlan& plan, const HostConversation& converse,
                      OutputStreams& streams);

// The whole of `sorvane exec` on several hosts, after parsing.
std::uint32_t run_on_several_hosts(const Cli::Exec& exec, const InputReader& read_input,
                                   OutputStreams& streams);

}  // namespace sorvane
