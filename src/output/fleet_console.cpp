#include "output/fleet_console.h"

#include <algorithm>

#include "output/fan_out_report.h"
#include "output/inert_text.h"
#include "output/prefixed_lines.h"
#include "output/remote_output.h"

namespace sorvane {
namespace {

constexpr std::size_t WRITE_PIECE = 8192;

// Lines behind the host's name, as they complete; the error line last.
class HostLines final : public HostEvents {
 public:
  HostLines(SharedConsole& console, const HostLabel& host, std::size_t index,
            const FleetConsoleOptions& options)
      : console_(console),
        out_(host_prefix(host.label, index, options.colour_out)),
        err_(host_prefix(host.label, index, options.colour_err)) {}

  IoResult<void> output(RemoteStream stream, ByteSpan chunk) override {
    // A piece at a time, so that what waits to be written stays small
    // however large the frame.
    for (std::size_t at = 0; at < chunk.size(); at += WRITE_PIECE) {
      ready_.clear();
      lines(stream).add(chunk.subspan(at, std::min(WRITE_PIECE, chunk.size() - at)), ready_);
      if (auto written = console_.write(stream, ready_); !written) return written;
    }
    return {};
  }

  IoResult<void> finish(const HostOutcome& outcome) override {
    for (RemoteStream stream : {RemoteStream::Stdout, RemoteStream::Stderr}) {
      ready_.clear();
      lines(stream).finish(ready_);
      if (auto written = console_.write(stream, ready_); !written) return written;
    }
    if (!outcome.error) return {};
    return console_.write(RemoteStream::Stderr, err_.prefix() + inert_error_line(*outcome.error));
  }

 private:
  PrefixedLines& lines(RemoteStream stream) { return stream == RemoteStream::Stdout ? out_ : err_; }

  SharedConsole& console_;
  PrefixedLines out_;
  PrefixedLines err_;
  std::string ready_;
};

// Output kept up to the limit, for the host's JSON line at its end.
class HostCapture final : public HostEvents {
 public:
  HostCapture(SharedConsole& console, const HostLabel& host, std::uint64_t max_output)
      : console_(console), host_(host), out_(max_output), err_(max_output) {}

  IoResult<void> output(RemoteStream stream, ByteSpan chunk) override {
    (stream == RemoteStream::Stdout ? out_ : err_).append(chunk);
    return {};
  }

  IoResult<void> finish(const HostOutcome& outcome) override {
    return console_.write(RemoteStream::Stdout, host_json_line(host_, outcome, out_, err_));
  }

 private:
  SharedConsole& console_;
  const HostLabel& host_;
  StreamCapture out_;
  StreamCapture err_;
};

}  // namespace

IoResult<void> SharedConsole::write(RemoteStream stream, std::string_view text) {
  if (text.empty()) return {};
  const std::lock_guard lock(mutex_);
  return copy_output(stream == RemoteStream::Stdout ? streams_.out : streams_.err, as_bytes(text));
}

FleetConsole::FleetConsole(const std::vector<HostLabel>& hosts, const FleetConsoleOptions& options,
                           SharedConsole& console)
    : hosts_(hosts),
      options_(options),
      console_(console),
      events_(hosts.size()),
      unwritten_(hosts.size()) {}

HostEvents& FleetConsole::host_events(std::size_t host) {
  std::unique_ptr<HostEvents>& slot = events_[host];
  if (slot) return *slot;
  if (options_.json) {
    slot = std::make_unique<HostCapture>(console_, hosts_[host], options_.max_output);
  } else {
    slot = std::make_unique<HostLines>(console_, hosts_[host], host, options_);
  }
  return *slot;
}

ConversationEvents& FleetConsole::events(std::size_t host) { return host_events(host); }

void FleetConsole::ended(std::size_t host, const HostOutcome& outcome) {
  if (auto finished = host_events(host).finish(outcome); !finished && !outcome.error) {
    unwritten_[host] = connection_broken(finished.error().text);
  }
  events_[host].reset();  // what it held is shown
}

std::vector<HostOutcome> FleetConsole::as_shown(std::vector<HostOutcome> outcomes) const {
  for (std::size_t i = 0; i < outcomes.size() && i < unwritten_.size(); ++i) {
    if (unwritten_[i]) outcomes[i].error = unwritten_[i];
  }
  return outcomes;
}

}  // namespace sorvane
