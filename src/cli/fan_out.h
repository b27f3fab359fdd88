// `sorvane exec` on several hosts: the command line's choice of hosts and
// options turned into a fleet run on the engine, shown on the console.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "output/console_sink.h"
#include "session/conversation.h"
#include "session/fleet.h"
#include "session/hosts.h"
#include "session/operation.h"

namespace sorvane {

// The hosts that `exec` chose (see choose_hosts in session/hosts.h).
Result<std::vector<HostLabel>, ToolError> choose_hosts(const Cli::Exec& exec,
                                                       const HostLister& list_hosts);

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
  std::optional<std::uint32_t> max_fail = {};
  std::string failure_policy = {};  // how the user asked for max_fail
};

// Runs the plan on the fleet engine, writing through `streams` from several
// threads (one lock for both), and returns the status.
std::uint32_t fan_out(const FanOutPlan& plan, const HostConversation& converse,
                      OutputStreams& streams);

// The whole of `sorvane exec` on several hosts, after parsing.
std::uint32_t run_on_several_hosts(const Cli::Exec& exec, const InputReader& read_input,
                                   OutputStreams& streams);

// Whether the command is an upload or download on several hosts.
bool transfers_on_several_hosts(const Cli& cli);

// The whole of `sorvane upload` or `download` on several hosts, after parsing.
std::uint32_t transfer_on_several_hosts(const Cli& cli, const InputReader& read_input,
                                        OutputStreams& streams);

}  // namespace sorvane
