// A fleet on the console as it runs: each host's lines behind its name, or,
// for programs, one JSON line per host at its end; then the summary and the
// status of the whole run. The engine's threads write through one lock for
// both streams, a whole text at a time, so lines of different hosts never mix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "output/console_sink.h"
#include "session/conversation.h"
#include "session/fleet.h"
#include "session/stream_capture.h"

namespace sorvane {

// The two sinks, written by every host's thread: one whole text at a time.
class SharedConsole {
 public:
  explicit SharedConsole(OutputStreams& streams) : streams_(streams) {}

  IoResult<void> write(RemoteStream stream, std::string_view text);

 private:
  std::mutex mutex_;
  OutputStreams& streams_;
};

// What a host's conversation tells, and what is shown of it at its end.
class HostEvents : public ConversationEvents {
 public:
  // Whatever is still to be shown once the host has ended.
  virtual IoResult<void> finish(const HostOutcome& outcome) = 0;
};

struct FleetConsoleOptions {
  bool json = false;
  std::uint64_t max_output = DEFAULT_MAX_OUTPUT;
  bool colour_out = false;  // colour the prefixes on standard output
  bool colour_err = false;  // ... and on standard error
};

class FleetConsole final : public FleetObserver {
 public:
  FleetConsole(const std::vector<HostLabel>& hosts, const FleetConsoleOptions& options,
               SharedConsole& console);

  ConversationEvents& events(std::size_t host) override;
  void ended(std::size_t host, const HostOutcome& outcome) override;

  // The outcomes with the hosts whose end could not be written broken, as
  // output that cannot be written breaks a conversation on one host.
  std::vector<HostOutcome> as_shown(std::vector<HostOutcome> outcomes) const;

 private:
  HostEvents& host_events(std::size_t host);

  const std::vector<HostLabel>& hosts_;
  FleetConsoleOptions options_;
  SharedConsole& console_;
  // Each slot is touched only by the thread that runs its host.
  std::vector<std::unique_ptr<HostEvents>> events_;
  std::vector<std::optional<ToolError>> unwritten_;
};

}  // namespace sorvane
