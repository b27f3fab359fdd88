#include "cli/fan_out.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <variant>

#include "base/deadline.h"
#include "base/thread_pool.h"
#include "ipc/endpoint.h"
#include "ipc/shared_endpoint.h"
#include "output/colour.h"
#include "output/gathered_output.h"
#include "output/inert_text.h"
#include "output/prefixed_lines.h"
#include "output/remote_output.h"
#include "platform/std_streams.h"
#include "protocol/json_quote.h"
#include "text/unicode.h"

namespace sorvane {
namespace {

constexpr std::uint32_t LOCAL_FAILURE = 255;
constexpr std::size_t WRITE_PIECE = 8192;
// How long listing the hosts may take without --timeout: the desktop
// application answers it from memory, so this only ever ends a stall.
constexpr std::chrono::seconds LOOKUP_LIMIT{30};
constexpr std::string_view LISTING = " while listing the hosts";

std::uint32_t report(ConsoleSink& err, const ToolError& error) {
  (void)err.write_all(inert_error_line(error));
  return LOCAL_FAILURE;
}

// The items of "a, b,,c", each once, in order.
std::vector<std::string> split_ids(std::string_view list) {
  std::vector<std::string> ids;
  std::set<std::string> seen;
  std::istringstream items{std::string(list)};
  for (std::string item; std::getline(items, item, ',');) {
    const auto first = item.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    std::string id = item.substr(first, item.find_last_not_of(' ') + 1 - first);
    if (seen.insert(id).second) ids.push_back(std::move(id));
  }
  return ids;
}

// Each host's lines carry its name, unless another chosen host has the same
// name: then both carry their IDs.
void label_hosts(std::vector<HostLabel>& hosts) {
  std::map<std::string, int> uses;
  for (const HostLabel& host : hosts) {
    if (host.name) ++uses[*host.name];
  }
  for (HostLabel& host : hosts) {
    const bool own_name = host.name && !host.name->empty() && uses[*host.name] == 1;
    host.label = own_name ? *host.name : host.id;
  }
}

ToolError nothing_chosen(const Cli::Exec& exec) {
  if (exec.query) return {ErrorCode::HostNotFound, "没有与查询「" + *exec.query + "」匹配的主机"};
  return {ErrorCode::BadRequest, "没有给出主机 ID"};
}

// An empty query would choose every host: as easy to type by mistake as an
// empty ID list, and refused like it.
std::optional<ToolError> nothing_asked(const Cli::Exec& exec, const std::vector<std::string>& ids) {
  if (exec.query && text::trim_white_space(*exec.query).empty()) {
    return ToolError{ErrorCode::BadRequest, "查询不能为空"};
  }
  if (!exec.query && ids.empty()) return nothing_chosen(exec);
  return std::nullopt;
}

ToolError timed_out_after(std::chrono::milliseconds limit, std::string_view doing = {}) {
  return {ErrorCode::ConnectFailed,
          "timed out after " + format_duration(limit) + std::string(doing)};
}

// ---- Output ----

// The two sinks, written by every host's thread: one whole text at a time.
class SharedConsole {
 public:
  explicit SharedConsole(OutputStreams& streams) : streams_(streams) {}

  IoResult<void> write(RemoteStream stream, std::string_view text) {
    if (text.empty()) return {};
    const std::lock_guard lock(mutex_);
    return copy_output(stream == RemoteStream::Stdout ? streams_.out : streams_.err,
                       as_bytes(text));
  }

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

// Lines behind the host's name, as they complete; the error line last.
class HostLines final : public HostEvents {
 public:
  HostLines(SharedConsole& console, const FanOutPlan& plan, std::size_t index)
      : console_(console),
        out_(host_prefix(plan.hosts[index].label, index, plan.colour_out)),
        err_(host_prefix(plan.hosts[index].label, index, plan.colour_err)) {}

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
  HostCapture(SharedConsole& console, const FanOutPlan& plan, std::size_t index)
      : console_(console), host_(plan.hosts[index]), out_(plan.max_output), err_(plan.max_output) {}

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
  CappedOutput out_;
  CappedOutput err_;
};

std::unique_ptr<HostEvents> events_for(SharedConsole& console, const FanOutPlan& plan,
                                       std::size_t index) {
  if (plan.json) return std::make_unique<HostCapture>(console, plan, index);
  return std::make_unique<HostLines>(console, plan, index);
}

// Shows the end of a host; output that cannot be written breaks the host,
// as it breaks a conversation on one host.
HostOutcome finish_host(HostEvents& events, HostOutcome outcome) {
  if (auto finished = events.finish(outcome); !finished && !outcome.error) {
    outcome.error = connection_broken(finished.error().text);
  }
  return outcome;
}

HostOutcome run_host(const FanOutPlan& plan, std::size_t index, const HostConversation& converse,
                     SharedConsole& console) {
  const auto events = events_for(console, plan, index);
  return finish_host(*events, converse(plan.hosts[index].id, *events));
}

// Runs `run(i)` for every host, `plan.parallel` at a time, and returns once
// all have ended; a host whose thread cannot start ends with `cannot_start`.
void for_each_host(const FanOutPlan& plan, const std::function<void(std::size_t)>& run,
                   const std::function<void(std::size_t, ToolError)>& cannot_start) {
  ThreadPool pool(plan.parallel);
  for (std::size_t i = 0; i < plan.hosts.size(); ++i) {
    auto submitted = pool.submit([&run, i] { run(i); });
    if (!submitted)
      cannot_start(i, connection_broken("cannot start a thread: " + submitted.error()));
  }
}  // every host has ended here: the pool joins its threads

// --gather: every host's output kept until all have ended, then each group
// of equal results once, and the summary.
std::uint32_t gather(const FanOutPlan& plan, const HostConversation& converse,
                     OutputStreams& streams) {
  GatheredOutput gathered(plan.hosts.size());
  for_each_host(
      plan,
      [&](std::size_t i) { gathered.ended(i, converse(plan.hosts[i].id, gathered.events(i))); },
      [&](std::size_t i, ToolError error) {
        gathered.ended(i, {std::nullopt, std::move(error)});
      });
  auto shown = plan.json
                   ? gathered.write_json(plan.hosts, streams.out, plan.max_output)
                   : gathered.write_text(plan.hosts, streams, plan.colour_out, plan.colour_err);
  if (!shown) return report(streams.err, connection_broken(shown.error().text));
  if (plan.summary) (void)streams.err.write_all(fan_out_summary(plan.hosts, gathered.outcomes()));
  return fan_out_status(gathered.outcomes());
}

// ---- The desktop application ----

// The listing is bounded like the rest of the run: a desktop application
// that stalls on it must not keep every host from starting.
Result<std::vector<HostInfo>, ToolError> list_hosts(std::string_view endpoint,
                                                    const std::optional<std::string>& query,
                                                    std::chrono::milliseconds limit) {
  const Deadline deadline = Deadline::after(limit);
  auto connection = connect(endpoint, deadline);
  if (!connection && deadline.expired()) return fail(timed_out_after(limit, LISTING));
  if (!connection) return fail(to_tool_error(connection.error()));
  ConversationEvents passed_over;
  auto reply = converse(*connection, *connection, Request{Request::List{query}}, passed_over);
  if (!reply && deadline.expired()) return fail(timed_out_after(limit, LISTING));
  if (!reply) return fail(std::move(reply).error());
  if (auto* hosts = std::get_if<Reply::Hosts>(&reply->value)) return std::move(hosts->hosts);
  if (auto* error = std::get_if<Reply::Error>(&reply->value)) {
    return fail(ToolError{error->code, std::move(error->message)});
  }
  return fail(connection_broken("unexpected reply to list"));
}

// One host's conversation, on a connection that the shared endpoint opens
// when its turn comes. The timeout counts from then: waiting for a turn
// behind our own conversations is not the host's time. Every host's frame
// shares the encoded command; only the host ID is its own.
HostOutcome converse_on(SharedEndpoint& endpoint, const ExecEnvelope& envelope,
                        const std::optional<std::chrono::milliseconds>& timeout,
                        std::string_view host, ConversationEvents& events) {
  if (auto fits = check_fits_one_frame(envelope.size_for(host)); !fits) {
    return {std::nullopt, std::move(fits).error()};
  }
  auto conversation = endpoint.open();
  if (!conversation) return {std::nullopt, to_tool_error(conversation.error())};
  PipeConnection& connection = conversation->connection();
  if (timeout) connection.set_deadline(Deadline::after(*timeout));
  const std::string quoted_host = json_quote(host);
  const std::array<ByteSpan, 3> parts = {as_bytes(envelope.before_host), as_bytes(quoted_host),
                                         as_bytes(envelope.after_host)};
  auto reply = converse(connection, connection, parts, events);
  if (!reply && timeout && connection.deadline().expired()) {
    return {std::nullopt, timed_out_after(*timeout), true};
  }
  return outcome_of(std::move(reply));
}

// The command, read and checked once and encoded once for every host; the
// longest ID given must fit in a frame with it before anything is asked.
Result<ExecEnvelope, ToolError> encode_once(const Cli::Exec& exec, const InputReader& read_input) {
  auto command = prepare_command(exec, read_input);
  if (!command) return fail(std::move(command).error());
  ExecEnvelope envelope = encode_exec_envelope(*command);
  std::size_t largest = envelope.size_for("");
  for (const std::string& id : split_ids(exec.id))
    largest = std::max(largest, envelope.size_for(id));
  if (auto fits = check_fits_one_frame(largest); !fits) return fail(std::move(fits).error());
  return envelope;
}

// The hosts' names are only for their labels: with IDs given, the run goes
// on without them, saying why they are missing.
void warn_unnamed(ConsoleSink& err, const ToolError& lookup_failure) {
  (void)err.write_all("sorvane: 无法取得主机名称，各主机以 ID 运行：[" +
                      std::string(code_word(lookup_failure.code)) + "] " +
                      inert(lookup_failure.message) + "\n");
}

}  // namespace

HostOutcome outcome_of(FinalReply reply) {
  if (!reply) return {std::nullopt, std::move(reply).error()};
  if (auto* exit = std::get_if<Reply::Exit>(&reply->value)) return {exit->code, std::nullopt};
  if (auto* error = std::get_if<Reply::Error>(&reply->value)) {
    return {std::nullopt, ToolError{error->code, std::move(error->message)}};
  }
  return {std::nullopt, connection_broken("unexpected reply to exec")};
}

Result<std::vector<HostLabel>, ToolError> choose_hosts(const Cli::Exec& exec,
                                                       const HostLister& list_hosts) {
  std::vector<std::string> ids = split_ids(exec.id);
  if (auto refused = nothing_asked(exec, ids)) return fail(std::move(*refused));
  auto listed = list_hosts(exec.query);
  if (!listed && exec.query) return fail(std::move(listed).error());
  if (!listed) listed = std::vector<HostInfo>{};
  std::vector<HostLabel> chosen;
  if (exec.query) {
    std::set<std::string> seen;
    for (HostInfo& host : *listed) {
      if (seen.insert(host.id).second) chosen.push_back({host.id, std::move(host.name), {}});
    }
  } else {
    for (std::string& id : ids) {
      const auto known = std::find_if(listed->begin(), listed->end(),
                                      [&id](const HostInfo& host) { return host.id == id; });
      std::optional<std::string> name;
      if (known != listed->end()) name = known->name;
      chosen.push_back({std::move(id), std::move(name), {}});
    }
  }
  if (chosen.empty()) return fail(nothing_chosen(exec));
  label_hosts(chosen);
  return chosen;
}

std::uint32_t fan_out(const FanOutPlan& plan, const HostConversation& converse,
                      OutputStreams& streams) {
  if (plan.gather) return gather(plan, converse, streams);
  SharedConsole console(streams);
  std::vector<HostOutcome> outcomes(plan.hosts.size());
  for_each_host(
      plan, [&](std::size_t i) { outcomes[i] = run_host(plan, i, converse, console); },
      [&](std::size_t i, ToolError error) {
        const auto events = events_for(console, plan, i);
        outcomes[i] = finish_host(*events, {std::nullopt, std::move(error)});
      });
  if (plan.summary) {
    (void)console.write(RemoteStream::Stderr, fan_out_summary(plan.hosts, outcomes));
  }
  return fan_out_status(outcomes);
}

std::uint32_t run_on_several_hosts(const Cli::Exec& exec, const InputReader& read_input,
                                   OutputStreams& streams) {
  const auto envelope = encode_once(exec, read_input);
  if (!envelope) return report(streams.err, envelope.error());
  const std::string endpoint = pipe_name(data_dir());
  std::optional<ToolError> lookup_failure;
  auto hosts = choose_hosts(exec, [&](const std::optional<std::string>& query) {
    auto listed = list_hosts(endpoint, query, exec.timeout.value_or(LOOKUP_LIMIT));
    if (!listed) lookup_failure = listed.error();
    return listed;
  });
  if (!hosts) return report(streams.err, hosts.error());
  if (lookup_failure) warn_unnamed(streams.err, *lookup_failure);

  FanOutPlan plan;
  plan.hosts = std::move(*hosts);
  plan.parallel = exec.parallel;
  plan.json = exec.json;
  plan.max_output = exec.max_output;
  plan.colour_out = colour_on(streams.out, StdStream::Output);
  plan.colour_err = colour_on(streams.err, StdStream::Error);
  plan.summary = streams.err.is_terminal();
  plan.gather = exec.gather;
  SharedEndpoint shared(endpoint);
  return fan_out(
      plan,
      [&](std::string_view host, ConversationEvents& events) {
        return converse_on(shared, *envelope, exec.timeout, host, events);
      },
      streams);
}

}  // namespace sorvane
