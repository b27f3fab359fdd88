#include "output/gathered_output.h"

#include <string>

#include "output/colour.h"
#include "output/fan_out_report.h"
#include "output/folded_names.h"
#include "output/inert_text.h"
#include "session/identical_groups.h"
#include "session/stream_capture.h"

namespace sorvane {

// One host's two streams, filled by its conversation.
class GatheredOutput::Host final : public ConversationEvents {
 public:
  explicit Host(SpillFile& file) : out(file), err(file) {}

  // Output that cannot be kept breaks the host, as output that cannot be
  // written breaks it without --gather.
  IoResult<void> output(RemoteStream stream, ByteSpan chunk) override {
    auto kept = (stream == RemoteStream::Stdout ? out : err).append(chunk);
    if (!kept) return fail(IoError{kept.error().kind, not_kept(kept.error())});
    return {};
  }

  static std::string not_kept(const IoError& error) {
    return "cannot keep the output: " + error.text;
  }

  SpilledStream out;
  SpilledStream err;
};

namespace {

constexpr std::string_view GOOD_HEADER_COLOUR = "\x1b[36m";
constexpr std::string_view BAD_HEADER_COLOUR = "\x1b[31m";

bool same_result(const HostOutcome& a, const HostOutcome& b) {
  const auto error_of = [](const HostOutcome& outcome) {
    return outcome.error ? std::optional(std::pair(outcome.error->code, outcome.error->message))
                         : std::nullopt;
  };
  return a.exit_code == b.exit_code && error_of(a) == error_of(b) && a.timed_out == b.timed_out &&
         a.not_run == b.not_run;
}

std::string result_digest(const HostOutcome& outcome) {
  if (outcome.error) return std::string(code_word(outcome.error->code)) + outcome.error->message;
  return outcome.exit_code ? std::to_string(*outcome.exit_code) : std::string();
}

std::string as_text(const Sha256Digest& digest) {
  return {reinterpret_cast<const char*>(digest.data()), digest.size()};
}

std::vector<HostLabel> members_of(std::span<const HostLabel> hosts,
                                  const std::vector<std::size_t>& group) {
  std::vector<HostLabel> members;
  members.reserve(group.size());
  for (const std::size_t host : group) members.push_back(hosts[host]);
  return members;
}

// "== web-[01-03,07]（4 台主机）" and the exit code when it is not 0, or
// the error line.
std::string group_header(std::span<const HostLabel> members, const HostOutcome& outcome,
                         bool colour) {
  std::string line = "== ";
  append_inert(line, fold_names(members));
  line += "（" + std::to_string(members.size()) + " 台主机）";
  if (outcome.error) {
    std::string error = inert_error_line(*outcome.error);
    error.pop_back();  // the line feed
    line += error;
  } else if (outcome.exit_code != 0) {
    line += "退出码 " + std::to_string(outcome.exit_code.value_or(0));
  }
  if (colour) {
    const bool good = !outcome.error && outcome.exit_code == 0;
    line = std::string(good ? GOOD_HEADER_COLOUR : BAD_HEADER_COLOUR) + line +
           std::string(COLOUR_RESET);
  }
  return line + "\n";
}

IoResult<void> write_stream(ConsoleSink& sink, const std::string& header,
                            const SpilledStream& stream) {
  if (auto written = sink.write_all(header); !written) return written;
  if (auto copied = stream.replay([&sink](ByteSpan piece) { return sink.write_all(piece); });
      !copied) {
    return copied;
  }
  if (!stream.empty() && !stream.ends_with_line_feed()) {
    if (auto written = sink.write_all("\n"); !written) return written;
  }
  return sink.flush();
}

IoResult<StreamCapture> captured(const SpilledStream& stream, std::uint64_t max_output) {
  StreamCapture capture(max_output);
  // One byte past the limit tells the capture that there was more.
  const std::uint64_t wanted = max_output == UINT64_MAX ? max_output : max_output + 1;
  auto replayed = stream.replay(
      [&capture](ByteSpan piece) -> IoResult<void> {
        capture.append(piece);
        return {};
      },
      wanted);
  if (!replayed) return fail(std::move(replayed).error());
  return capture;
}

}  // namespace

GatheredOutput::GatheredOutput(std::size_t hosts, TempFileMaker make)
    : file_(std::move(make)), outcomes_(hosts) {
  hosts_.reserve(hosts);
  for (std::size_t i = 0; i < hosts; ++i) hosts_.push_back(std::make_unique<Host>(file_));
}

GatheredOutput::~GatheredOutput() = default;

ConversationEvents& GatheredOutput::events(std::size_t host) { return *hosts_[host]; }

void GatheredOutput::ended(std::size_t host, const HostOutcome& outcome) {
  HostOutcome& kept = outcomes_[host] = outcome;
  for (SpilledStream* stream : {&hosts_[host]->out, &hosts_[host]->err}) {
    if (auto finished = stream->finish(); !finished && !kept.error) {
      kept.error = connection_broken(Host::not_kept(finished.error()));
    }
  }
}

std::vector<std::vector<std::size_t>> GatheredOutput::groups() const {
  return identical_groups(
      hosts_.size(),
      [this](std::size_t i) {
        return as_text(hosts_[i]->out.digest()) + as_text(hosts_[i]->err.digest()) +
               result_digest(outcomes_[i]);
      },
      [this](std::size_t a, std::size_t b) {
        return same_result(outcomes_[a], outcomes_[b]) &&
               hosts_[a]->out.same_bytes(hosts_[b]->out) &&
               hosts_[a]->err.same_bytes(hosts_[b]->err);
      });
}

IoResult<void> GatheredOutput::write_text(std::span<const HostLabel> hosts, OutputStreams& streams,
                                          bool colour_out, bool colour_err) const {
  for (const auto& group : groups()) {
    const std::vector<HostLabel> members = members_of(hosts, group);
    const HostOutcome& outcome = outcomes_[group.front()];
    const Host& shown = *hosts_[group.front()];
    if (!shown.out.empty() || shown.err.empty()) {
      auto written =
          write_stream(streams.out, group_header(members, outcome, colour_out), shown.out);
      if (!written) return written;
    }
    if (!shown.err.empty()) {
      auto written =
          write_stream(streams.err, group_header(members, outcome, colour_err), shown.err);
      if (!written) return written;
    }
  }
  return {};
}

IoResult<void> GatheredOutput::write_json(std::span<const HostLabel> hosts, ConsoleSink& out,
                                          std::uint64_t max_output) const {
  for (const auto& group : groups()) {
    const Host& shown = *hosts_[group.front()];
    auto stdout_kept = captured(shown.out, max_output);
    if (!stdout_kept) return fail(std::move(stdout_kept).error());
    auto stderr_kept = captured(shown.err, max_output);
    if (!stderr_kept) return fail(std::move(stderr_kept).error());
    const std::string line = group_json_line(members_of(hosts, group), outcomes_[group.front()],
                                             *stdout_kept, *stderr_kept);
    if (auto written = out.write_all(line); !written) return written;
  }
  return out.flush();
}

}  // namespace sorvane
