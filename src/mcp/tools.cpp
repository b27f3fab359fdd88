#include "mcp/tools.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>

#include "mcp/call.h"
#include "mcp/call_timer.h"
#include "mcp/fleet_exec.h"
#include "mcp/options.h"
#include "protocol/error_code.h"
#include "session/operation.h"
#include "session/stream_capture.h"
#include "text/utf8.h"

namespace sorvane::mcp {
namespace {

ToolError bad_arguments(std::string_view why) {
  return {ErrorCode::BadRequest, "invalid arguments: " + std::string(why)};
}

bool host_allowed(const Options& options, const std::string& id) {
  return !host_refusal(options, id);
}

// ---- Arguments ----

class Arguments {
 public:
  // Names outside the tool's input schema are refused: an agent passing one
  // would otherwise believe it had an effect.
  Arguments(const Json& arguments, const Json& schema) : arguments_(arguments) {
    if (!arguments_.is_object()) return;
    const Json& known = schema.at("properties");
    std::string unknown;
    for (const auto& [name, value] : arguments_.items()) {
      if (!known.contains(name)) unknown += (unknown.empty() ? "`" : ", `") + name + "`";
    }
    if (!unknown.empty()) problem_ = "unknown argument " + text::utf8_lossy(unknown);
  }

  // A required string member; records what is wrong otherwise.
  std::string text(const char* name) {
    auto value = optional_text(name);
    if (!value && problem_.empty()) problem_ = std::string("`") + name + "` is required";
    return value.value_or(std::string());
  }
  std::optional<std::string> optional_text(const char* name) {
    if (!arguments_.is_object()) {
      problem_ = "the arguments must be an object";
      return std::nullopt;
    }
    const auto found = arguments_.find(name);
    if (found == arguments_.end() || found->is_null()) return std::nullopt;
    if (!found->is_string()) {
      if (problem_.empty()) problem_ = std::string("`") + name + "` must be a string";
      return std::nullopt;
    }
    // The remote shell and the file system would stop reading at a NUL and
    // act on what comes before it.
    if (found->get_ref<const std::string&>().find('\0') != std::string::npos) {
      if (problem_.empty()) problem_ = std::string("`") + name + "` contains a NUL character";
      return std::nullopt;
    }
    return found->get<std::string>();
  }
  // An optional whole number from 1 to `most`.
  std::optional<std::uint64_t> optional_positive(const char* name, std::uint64_t most) {
    if (!arguments_.is_object()) return std::nullopt;
    const auto found = arguments_.find(name);
    if (found == arguments_.end() || found->is_null()) return std::nullopt;
    const bool positive = found->is_number_unsigned() && found->get<std::uint64_t>() > 0;
    if (positive && found->get<std::uint64_t>() <= most) return found->get<std::uint64_t>();
    require(false, std::string("`") + name + "` must be a positive integer" +
                       (positive ? " of at most " + std::to_string(most) : std::string()));
    return std::nullopt;
  }
  // The call's time limit in seconds (0: none). The agent may shorten the
  // operator's, never lengthen it: --timeout bounds every call.
  std::uint64_t time_limit(std::uint64_t operators) {
    const auto asked = optional_positive("timeout_seconds", MAX_TIMEOUT_SECONDS);
    if (!asked) return operators;
    return operators == 0 ? *asked : std::min(*asked, operators);
  }
  // An optional list of strings, each once, in order; at least one.
  std::optional<std::vector<std::string>> optional_text_list(const char* name) {
    if (!arguments_.is_object()) return std::nullopt;
    const auto found = arguments_.find(name);
    if (found == arguments_.end() || found->is_null()) return std::nullopt;
    std::vector<std::string> items;
    const bool texts =
        found->is_array() && std::all_of(found->begin(), found->end(), [](auto& item) {
          return item.is_string() &&
                 item.template get_ref<const std::string&>().find('\0') == std::string::npos;
        });
    if (texts) {
      for (const Json& item : *found) {
        const auto& text = item.get_ref<const std::string&>();
        if (std::find(items.begin(), items.end(), text) == items.end()) items.push_back(text);
      }
    }
    if (items.empty()) require(false, std::string("`") + name + "` must be a list of host IDs");
    return items;
  }
  // Records `why` unless `holds`, or something else is already wrong.
  void require(bool holds, std::string why) {
    if (!holds && problem_.empty()) problem_ = std::move(why);
  }
  const std::string& problem() const { return problem_; }

 private:
  const Json& arguments_;
  std::string problem_;
};

// Nothing to read: the command of a call always comes in its arguments.
IoResult<std::string> no_input(std::size_t) { return std::string(); }

// A call ready to go: its request and its time limit.
struct Built {
  Request request;
  std::uint64_t timeout_seconds = 0;  // 0: none
};

constexpr std::string_view ONE_CHOICE = "give exactly one of `host`, `hosts` and `query`";

Result<Built, ToolError> build(ToolId tool, const Json& json, const Options& options) {
  Arguments arguments(json, input_schema(tool));
  std::string host;
  if (tool == ToolId::Exec) {
    auto given = arguments.optional_text("host");
    arguments.require(given.has_value() || !arguments.problem().empty(), std::string(ONE_CHOICE));
    host = given.value_or(std::string());
  } else if (tool != ToolId::ListHosts) {
    host = arguments.text("host");
  }
  Operation operation;
  std::uint64_t timeout_seconds = options.timeout_seconds;
  switch (tool) {
    case ToolId::ListHosts:
      operation.member = Operation::List{arguments.optional_text("query")};
      break;
    case ToolId::Exec:
      operation.member = Operation::Exec{host, arguments.text("command")};
      timeout_seconds = arguments.time_limit(timeout_seconds);
      break;
    case ToolId::Upload:
      operation.member = Operation::Upload{host, utf8_to_native(arguments.text("local")),
                                           arguments.text("remote")};
      break;
    case ToolId::Download:
      operation.member = Operation::Download{host, arguments.text("remote"),
                                             utf8_to_native(arguments.text("local"))};
      break;
  }
  if (!arguments.problem().empty()) return fail(bad_arguments(arguments.problem()));
  // Refused here, so the desktop application never hears of a host the
  // operator kept from the agent.
  if (auto refusal = tool == ToolId::ListHosts ? std::nullopt : host_refusal(options, host)) {
    return fail(std::move(*refusal));
  }
  // The same local checks and path rules as `sorvane`.
  auto request = build_request(std::move(operation), no_input);
  if (!request) return fail(std::move(request).error());
  return Built{std::move(*request), timeout_seconds};
}

// ---- Conversations ----

// Each output stream whole up to the limit. Past it the first half and the
// last half of the limit are kept, as a log's end is where its error is; the
// middle is read and dropped. Progress goes to the report, when there is one.
class CallEvents final : public ExecCapture {
 public:
  CallEvents(std::uint64_t limit, ProgressReport report)
      : report_(std::move(report)),
        stdout_(limit, StreamCapture::Keep::HeadAndTail),
        stderr_(limit, StreamCapture::Keep::HeadAndTail) {}

  // Every byte that arrives keeps an idle time limit from passing, whether
  // or not it completes a frame.
  void watch_with(CallTimer& timer) { timer_ = &timer; }
  // Read on the timer's thread while the call's thread writes it.
  std::uint64_t received() const override { return received_.load(); }

  void arrived(std::size_t) override {
    if (timer_) timer_->touch();
  }
  IoResult<void> output(RemoteStream stream, ByteSpan chunk) override {
    received_ += chunk.size();
    (stream == RemoteStream::Stdout ? stdout_ : stderr_).append(chunk);
    return {};
  }
  void progress(const TransferCounters& counters) override {
    if (report_) report_(counters);
  }

  // No exit code: the time limit passed first, and the output is what came.
  ExecOutcome outcome(std::optional<std::int32_t> exit_code) const override {
    return {exit_code, kept(stdout_), kept(stderr_)};
  }

 private:
  static KeptStream kept(const StreamCapture& capture) {
    return {capture.text(), capture.truncated(), capture.omitted()};
  }

  ProgressReport report_;
  CallTimer* timer_ = nullptr;
  std::atomic<std::uint64_t> received_ = 0;
  StreamCapture stdout_;
  StreamCapture stderr_;
};

ToolError unexpected_reply() { return connection_broken("unexpected reply for this tool"); }

// The final reply as the tool's result.
ToolResult result_of(ToolId tool, Reply& reply, const Options& options, const CallEvents& events) {
  if (auto* error = std::get_if<Reply::Error>(&reply.value)) {
    return {ToolError{error->code, std::move(error->message)}};
  }
  if (auto* hosts = std::get_if<Reply::Hosts>(&reply.value); hosts && tool == ToolId::ListHosts) {
    HostsOutcome allowed;
    for (HostInfo& host : hosts->hosts) {
      if (host_allowed(options, host.id)) allowed.hosts.push_back(std::move(host));
    }
    return {std::move(allowed)};
  }
  if (auto* exit = std::get_if<Reply::Exit>(&reply.value); exit && tool == ToolId::Exec) {
    return {events.outcome(exit->code)};
  }
  if (auto* done = std::get_if<Reply::TransferDone>(&reply.value);
      done && (tool == ToolId::Upload || tool == ToolId::Download)) {
    return {TransferOutcome{std::move(done->summary)}};
  }
  return {unexpected_reply()};
}

// An exec naming several hosts (`hosts` or `query`) rather than one.
bool names_several_hosts(ToolId tool, const Json& arguments) {
  const auto given = [&](const char* name) {
    return arguments.is_object() && arguments.contains(name) && !arguments[name].is_null();
  };
  return tool == ToolId::Exec && (given("hosts") || given("query"));
}

ToolResult call_on_several_hosts(const Json& json, const Options& options, const Converse& converse,
                                 Call& call, const CallHooks& hooks) {
  Arguments arguments(json, input_schema(ToolId::Exec));
  HostChoice choice;
  choice.query = arguments.optional_text("query");
  auto ids = arguments.optional_text_list("hosts");
  arguments.require(ids.has_value() != choice.query.has_value() && !json.contains("host"),
                    std::string(ONE_CHOICE));
  choice.ids = ids.value_or(std::vector<std::string>());
  std::string command = arguments.text("command");
  const std::uint64_t timeout_seconds = arguments.time_limit(options.timeout_seconds);
  if (!arguments.problem().empty()) return {bad_arguments(arguments.problem())};
  auto request = build_request(Operation{Operation::Exec{{}, std::move(command)}}, no_input);
  if (!request) return {request.error()};
  return call_fleet_exec(choice, *request, timeout_seconds, options, converse, call, hooks);
}

}  // namespace

std::optional<ToolError> host_refusal(const Options& options, const std::string& id) {
  if (!options.hosts || options.hosts->contains(id)) return std::nullopt;
  return ToolError{ErrorCode::HostNotFound, "主机 " + id + " 不在 --hosts 允许的范围内"};
}

std::unique_ptr<ExecCapture> make_exec_capture(std::uint64_t limit) {
  return std::make_unique<CallEvents>(limit, ProgressReport());
}

ToolResult call_tool(ToolId tool, const Json& arguments, const Options& options,
                     const Converse& converse, Call& call, const CallHooks& hooks) {
  if (names_several_hosts(tool, arguments)) {
    return call_on_several_hosts(arguments, options, converse, call, hooks);
  }
  auto built = build(tool, arguments, options);
  if (!built) return {built.error()};
  if (auto refusal = hooks.admit ? hooks.admit(built->request) : std::nullopt) {
    return {std::move(*refusal)};
  }
  // Progress is reported for transfers only; only exec has output.
  const bool exec = tool == ToolId::Exec;
  CallEvents events(options.max_output, exec ? ProgressReport() : hooks.progress);
  CallTimer timer(call.timer(
      {
          .limit = std::chrono::seconds(built->timeout_seconds),
          // A transfer may take long; it is given up only when nothing arrives.
          .idle = !exec,
          .beating = exec,
      },
      [&events] { return events.received(); }));
  events.watch_with(timer);
  auto reply = converse(built->request, events);
  // A reply that came is the result, even at the moment the limit passed.
  if (reply) return result_of(tool, *reply, options, events);
  if (!timer.expired()) return {reply.error()};
  if (exec) return {events.outcome(std::nullopt)};
  return {
      ToolError{tool == ToolId::ListHosts ? ErrorCode::ConnectFailed : ErrorCode::TransferFailed,
                "timed out: nothing arrived from the desktop application for " +
                    std::to_string(built->timeout_seconds) + " seconds"}};
}

}  // namespace sorvane::mcp
