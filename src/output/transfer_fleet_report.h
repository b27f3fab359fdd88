// What an upload or download on several hosts shows: as each host ends, its
// line (files, bytes, failures) behind its name with its failed files named,
// or its JSON object; then the summary and the run's status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>

#include "output/console_sink.h"
#include "session/fleet.h"

namespace sorvane {

class TransferFleetReport final : public FleetObserver {
 public:
  struct Style {
    bool colour_out = false;  // colour the host names on standard output
    bool colour_err = false;  // ... and on standard error
  };

  // `hosts` are the plan's, in its order; `streams.json` picks JSON lines.
  TransferFleetReport(std::span<const HostLabel> hosts, OutputStreams& streams, Style style);

  // Nothing is drawn while the hosts copy: progress lines of many hosts
  // would only overwrite each other.
  ConversationEvents& events(std::size_t /*host*/) override { return passed_over_; }
  void ended(std::size_t host, const HostOutcome& outcome) override;

  // After the run: the summary when standard error is a terminal, then the
  // status (fan_out_status, or 255 when what was shown could not be written).
  std::uint32_t finish(std::span<const HostOutcome> outcomes);

 private:
  IoResult<void> show(std::size_t host, const HostOutcome& outcome);

  std::span<const HostLabel> hosts_;
  OutputStreams& streams_;
  Style style_;
  ConversationEvents passed_over_;
  std::mutex mutex_;  // one host's lines at a time, on both streams
  bool broken_ = false;
};

}  // namespace sorvane
