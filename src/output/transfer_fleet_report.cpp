#include "output/transfer_fleet_report.h"

#include "output/fan_out_report.h"
#include "output/inert_text.h"
#include "output/prefixed_lines.h"
#include "output/transfer_output.h"

namespace sorvane {
namespace {

constexpr std::uint32_t BROKEN = 255;

}  // namespace

TransferFleetReport::TransferFleetReport(std::span<const HostLabel> hosts, OutputStreams& streams,
                                         Style style)
    : hosts_(hosts), streams_(streams), style_(style) {}

void TransferFleetReport::ended(std::size_t host, const HostOutcome& outcome) {
  const std::lock_guard lock(mutex_);
  if (!show(host, outcome)) broken_ = true;
}

IoResult<void> TransferFleetReport::show(std::size_t host, const HostOutcome& outcome) {
  if (streams_.json) return streams_.out.write_all(transfer_json_line(hosts_[host], outcome));
  const std::string& label = hosts_[host].label;
  const std::string err_prefix = host_prefix(label, host, style_.colour_err);
  if (outcome.error) return streams_.err.write_all(err_prefix + inert_error_line(*outcome.error));
  if (!outcome.transfer) return {};
  const std::string line =
      host_prefix(label, host, style_.colour_out) + summary_sentence(*outcome.transfer);
  if (auto written = streams_.out.write_all(line); !written) return written;
  // Each failure names a remote or local file, which may be named anything.
  std::string failures;
  for (const std::string& failure : outcome.transfer->failures) {
    failures += err_prefix;
    append_inert(failures, failure);
    failures += '\n';
  }
  return streams_.err.write_all(failures);
}

std::uint32_t TransferFleetReport::finish(std::span<const HostOutcome> outcomes) {
  if (streams_.err.is_terminal() && !streams_.err.write_all(fan_out_summary(hosts_, outcomes))) {
    broken_ = true;
  }
  return broken_ ? BROKEN : fan_out_status(outcomes);
}

}  // namespace sorvane
