// `exec --gather`: every host's output kept whole until all hosts have
// ended, then the hosts whose stdout, stderr and result are the same shown
// once, as groups in the order of their first host, so that what is printed
// does not depend on the order in which hosts ended. The output is spilled
// (spilled_output.h), so memory does not grow with it; equal outputs are
// found by their digests and then compared byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "output/console_sink.h"
#include "output/spilled_output.h"
#include "session/fleet.h"

namespace sorvane {

class GatheredOutput final : public FleetObserver {
 public:
  explicit GatheredOutput(std::size_t hosts, TempFileMaker make = create_temp_file);
  GatheredOutput(const GatheredOutput&) = delete;
  GatheredOutput& operator=(const GatheredOutput&) = delete;
  ~GatheredOutput() override;

  ConversationEvents& events(std::size_t host) override;
  void ended(std::size_t host, const HostOutcome& outcome) override;

  // Once every host has ended. What became of each; a host whose output
  // could not be kept has that as its error.
  const std::vector<HostOutcome>& outcomes() const { return outcomes_; }
  // The hosts, as indices, in groups of equal output and result.
  std::vector<std::vector<std::size_t>> groups() const;

  // Each group's header on each stream it has output on (on stdout when it
  // has none), each followed by that output once, byte for byte; a last
  // line without its line feed gets one, so that every header starts a line.
  // The headers are coloured where `colour_out` / `colour_err` say.
  IoResult<void> write_text(std::span<const HostLabel> hosts, OutputStreams& streams,
                            bool colour_out, bool colour_err) const;
  // One JSON object per group and line on standard output, each stream
  // kept up to `max_output` bytes.
  IoResult<void> write_json(std::span<const HostLabel> hosts, ConsoleSink& out,
                            std::uint64_t max_output) const;

 private:
  class Host;

  SpillFile file_;
  std::vector<std::unique_ptr<Host>> hosts_;
  std::vector<HostOutcome> outcomes_;
};

}  // namespace sorvane
