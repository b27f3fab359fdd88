// One operation (exec, upload or download) on many hosts: the chosen hosts
// run `parallel` at a time through one shared endpoint, each with its own
// deadline, under a failure policy, and each host's events and outcome go to
// the caller. Both front ends run on it; neither opens a conversation of its
// own for several hosts.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/io.h"
#include "base/result.h"
#include "protocol/error_code.h"
#include "protocol/reply.h"
#include "session/conversation.h"

namespace sorvane {

class SharedEndpoint;

// A chosen host and the label its output carries.
struct HostLabel {
  std::string id;
  std::optional<std::string> name;  // as the desktop application lists it, if it does
  std::string label;  // the name, or the ID where it has none or shares it with another
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

}  // namespace sorvane
