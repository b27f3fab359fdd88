#include "mcp/tools.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>

#include "mcp/call_timer.h"
#include "mcp/fleet_exec.h"
#include "mcp/options.h"
#include "protocol/error_code.h"
#include "session/operation.h"
#include "session/stream_capture.h"
#include "text/utf8.h"

namespace sorvane::mcp {
namespace {

struct ToolEntry {
  ToolId id;
  std::string_view name;
  std::string_view title;
  std::string_view description;
};

constexpr std::array<ToolEntry, 4> TOOLS{{
    {ToolId::ListHosts, "list_hosts", "List saved hosts",
     "List the SSH hosts saved in Sorvane, optionally those matching a query. Each host's `id` is "
     "what the other tools take as `host`."},
    {ToolId::Exec, "exec", "Run a command on saved hosts",
     "Run one shell command on a saved host (`host`), or on several at once (`hosts`, or the "
     "hosts a `query` matches), and return the exit code, standard output and standard error. "
     "A non-zero exit code is a result, not a failure. The command gets no standard input. On "
     "several hosts the result has `results`, one per host, and `groups`: hosts with identical "
     "results folded together, their output once; the text shows the groups."},
    {ToolId::Upload, "upload", "Upload to a saved host",
     "Copy a local file or folder to a saved host, like scp: when `remote` is an existing "
     "directory the source goes inside it. Folders are copied recursively; existing files are "
     "overwritten."},
    {ToolId::Download, "download", "Download from a saved host",
     "Copy a file or folder from a saved host to this machine, like scp: when `local` is an "
     "existing directory the source goes inside it. Existing files are overwritten."},
}};

const ToolEntry& entry_of(ToolId tool) { return TOOLS.at(static_cast<std::size_t>(tool)); }

Json string_property(std::string_view description) {
  return {{"type", "string"}, {"description", description}};
}

Json object_schema(Json properties, Json required) {
  return {{"type", "object"},
          {"properties", std::move(properties)},
          {"required", std::move(required)},
          {"additionalProperties", false}};
}

Json count_property() { return {{"type", "integer"}, {"minimum", 0}}; }
// anyOf rather than a list of types: some agent hosts accept one type only.
Json nullable_string() {
  return {{"anyOf", Json::array({{{"type", "string"}}, {{"type", "null"}}})}};
}

Json value_schema(std::string HostInfo::*) { return {{"type", "string"}}; }
Json value_schema(std::optional<std::string> HostInfo::*) { return nullable_string(); }
Json value_schema(std::uint16_t HostInfo::*) {
  return {{"type", "integer"}, {"minimum", 0}, {"maximum", 65535}};
}

Json host_schema() {
  Json properties = Json::object();
  Json required = Json::array();
  for (const HostField& field : HOST_FIELDS) {
    properties[std::string(field.key)] =
        std::visit([](auto member) { return value_schema(member); }, field.member);
    required.push_back(std::string(field.key));
  }
  return object_schema(std::move(properties), std::move(required));
}

Json summary_schema() {
  return object_schema({{"files", count_property()},
                        {"bytes", count_property()},
                        {"skipped", count_property()},
                        {"failed", count_property()},
                        {"failures", {{"type", "array"}, {"items", {{"type", "string"}}}}}},
                       {"files", "bytes", "skipped", "failed", "failures"});
}

constexpr std::string_view HOST_HELP = "Host ID, from list_hosts";

Json nullable_integer() {
  return {{"anyOf", Json::array({{{"type", "integer"}}, {{"type", "null"}}})}};
}

// Both shapes an exec result takes: one host's, or several hosts'.
Json exec_output_schema() {
  const Json streams = {{"stdout", {{"type", "string"}}},     {"stderr", {{"type", "string"}}},
                        {"stdout_omitted", count_property()}, {"stderr_omitted", count_property()},
                        {"exit_code", nullable_integer()},    {"timed_out", {{"type", "boolean"}}},
                        {"error", nullable_string()},         {"cut", {{"type", "boolean"}}}};
  Json result = streams;
  result["id"] = {{"type", "string"}};
  result["name"] = nullable_string();
  Json group = streams;
  group["hosts"] = {
      {"type", "array"},
      {"items",
       object_schema({{"id", {{"type", "string"}}}, {"name", nullable_string()}}, {"id", "name"})}};
  const Json members = {"exit_code",      "timed_out",      "stdout", "stderr",
                        "stdout_omitted", "stderr_omitted", "error",  "cut"};
  Json result_required = {"id", "name"};
  Json group_required = {"hosts"};
  for (const Json& member : members) {
    result_required.push_back(member);
    group_required.push_back(member);
  }
  const Json one_host = {"exit_code",        "stdout",         "stderr",        "stdout_truncated",
                         "stderr_truncated", "stdout_omitted", "stderr_omitted"};
  const Json several = {"results", "groups", "results_cut", "groups_cut"};
  return {{"type", "object"},
          {"properties",
           {{"exit_code", nullable_integer()},
            {"timed_out", {{"type", "boolean"}}},
            {"stdout", {{"type", "string"}}},
            {"stderr", {{"type", "string"}}},
            {"stdout_truncated", {{"type", "boolean"}}},
            {"stderr_truncated", {{"type", "boolean"}}},
            {"stdout_omitted", count_property()},
            {"stderr_omitted", count_property()},
            {"results", {{"type", "array"}, {"items", object_schema(result, result_required)}}},
            {"groups", {{"type", "array"}, {"items", object_schema(group, group_required)}}},
            {"results_cut", count_property()},
            {"groups_cut", count_property()}}},
          // Constraints only, no types: a client that reads the properties alone still
          // sees every member.
          {"anyOf", Json::array({{{"required", one_host}}, {{"required", several}}})},
          {"additionalProperties", false}};
}

Json input_schema(ToolId tool) {
  switch (tool) {
    case ToolId::ListHosts:
      return object_schema(
          {{"query", string_property("Only hosts whose name, host, user, group or ID matches")}},
          Json::array());
    case ToolId::Exec:
      // Exactly one of host, hosts and query; said in words, as some clients
      // take no oneOf at the top of a schema.
      return object_schema(
          {{"host", string_property("Host ID, from list_hosts. Give exactly one of `host`, "
                                    "`hosts` and `query`")},
           {"hosts",
            {{"type", "array"},
             {"items", {{"type", "string"}}},
             {"minItems", 1},
             {"description", "Several host IDs: the command runs on each, some at once"}}},
           {"query", string_property("Every host whose name, host, user, group or ID matches, "
                                     "as list_hosts finds them")},
           {"command", string_property("Shell command, run in the login shell")},
           {"timeout_seconds",
            {{"type", "integer"},
             {"minimum", 1},
             {"description",
              "Stop waiting after this many seconds (default: the server's); on "
              "several hosts, for all of them together"}}}},
          {"command"});
    case ToolId::Upload:
      return object_schema(
          {{"host", string_property(HOST_HELP)},
           {"local", string_property("Local file or folder; relative to the server's directory")},
           {"remote", string_property("Remote destination")}},
          {"host", "local", "remote"});
    case ToolId::Download:
      return object_schema(
          {{"host", string_property(HOST_HELP)},
           {"remote", string_property("Remote file or folder")},
           {"local", string_property("Local destination; relative to the server's directory")}},
          {"host", "remote", "local"});
  }
  return {};
}

Json output_schema(ToolId tool) {
  switch (tool) {
    case ToolId::ListHosts:
      return object_schema({{"hosts", {{"type", "array"}, {"items", host_schema()}}}}, {"hosts"});
    case ToolId::Exec:
      return exec_output_schema();
    case ToolId::Upload:
    case ToolId::Download:
      return summary_schema();
  }
  return {};
}

Json annotations(ToolId tool) {
  const bool read_only = tool == ToolId::ListHosts;
  return {{"readOnlyHint", read_only},
          {"destructiveHint", !read_only},
          {"idempotentHint", read_only},
          {"openWorldHint", !read_only}};
}

// ---- Results ----

Json text_content(std::string text) {
  return Json::array({{{"type", "text"}, {"text", std::move(text)}}});
}

Json success(Json structured) {
  Json result;
  result["content"] = text_content(dump(structured));
  result["structuredContent"] = std::move(structured);
  result["isError"] = false;
  return result;
}

// A transfer with failed files fails, as `sorvane` exits 1 for it, and
// still tells what was copied.
Json transfer_result(Json summary, bool any_failed) {
  Json result = success(std::move(summary));
  result["isError"] = any_failed;
  return result;
}

Json failure(const ToolError& error) {
  Json result;
  result["content"] = text_content(error_line_text(error));
  result["isError"] = true;
  return result;
}

ToolError bad_arguments(std::string_view why) {
  return {ErrorCode::BadRequest, "invalid arguments: " + std::string(why)};
}

Json value_json(const std::string& text) { return text; }
Json value_json(std::uint16_t port) { return port; }
Json value_json(const std::optional<std::string>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json host_json(const HostInfo& host) {
  Json json = Json::object();
  for (const HostField& field : HOST_FIELDS) {
    json[std::string(field.key)] =
        std::visit([&](auto member) { return value_json(host.*member); }, field.member);
  }
  return json;
}

Json summary_json(const TransferSummary& summary) {
  return {{"files", summary.files},
          {"bytes", summary.bytes},
          {"skipped", summary.skipped},
          {"failed", summary.failed},
          {"failures", summary.failures}};
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
  // An optional whole number of at least 1.
  std::optional<std::uint64_t> optional_positive(const char* name) {
    if (!arguments_.is_object()) return std::nullopt;
    const auto found = arguments_.find(name);
    if (found == arguments_.end() || found->is_null()) return std::nullopt;
    if (found->is_number_unsigned() && found->get<std::uint64_t>() > 0) {
      return found->get<std::uint64_t>();
    }
    if (problem_.empty()) problem_ = std::string("`") + name + "` must be a positive integer";
    return std::nullopt;
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
IoResult<std::string> no_input() { return std::string(); }

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
      timeout_seconds = arguments.optional_positive("timeout_seconds").value_or(timeout_seconds);
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
  Json exec_result(std::optional<std::int32_t> exit_code) const override {
    Json result = {{"exit_code", exit_code ? Json(*exit_code) : Json(nullptr)},
                   {"stdout", stdout_.text()},
                   {"stderr", stderr_.text()},
                   {"stdout_truncated", stdout_.truncated()},
                   {"stderr_truncated", stderr_.truncated()},
                   {"stdout_omitted", stdout_.omitted()},
                   {"stderr_omitted", stderr_.omitted()}};
    if (!exit_code) result["timed_out"] = true;
    return result;
  }

 private:
  ProgressReport report_;
  CallTimer* timer_ = nullptr;
  std::atomic<std::uint64_t> received_ = 0;
  StreamCapture stdout_;
  StreamCapture stderr_;
};

ToolError unexpected_reply() { return connection_broken("unexpected reply for this tool"); }

// The final reply as the tool's result.
Json result_of(ToolId tool, Reply& reply, const Options& options, const CallEvents& events) {
  if (auto* error = std::get_if<Reply::Error>(&reply.value)) {
    return failure(ToolError{error->code, std::move(error->message)});
  }
  if (auto* hosts = std::get_if<Reply::Hosts>(&reply.value); hosts && tool == ToolId::ListHosts) {
    Json list = Json::array();
    for (const HostInfo& host : hosts->hosts) {
      if (host_allowed(options, host.id)) list.push_back(host_json(host));
    }
    return success({{"hosts", std::move(list)}});
  }
  if (auto* exit = std::get_if<Reply::Exit>(&reply.value); exit && tool == ToolId::Exec) {
    return success(events.exec_result(exit->code));
  }
  if (auto* done = std::get_if<Reply::TransferDone>(&reply.value);
      done && (tool == ToolId::Upload || tool == ToolId::Download)) {
    return transfer_result(summary_json(done->summary), done->summary.failed > 0);
  }
  return failure(unexpected_reply());
}

// An exec naming several hosts (`hosts` or `query`) rather than one.
bool names_several_hosts(ToolId tool, const Json& arguments) {
  const auto given = [&](const char* name) {
    return arguments.is_object() && arguments.contains(name) && !arguments[name].is_null();
  };
  return tool == ToolId::Exec && (given("hosts") || given("query"));
}

Json call_on_several_hosts(const Json& json, const Options& options, const Converse& converse,
                           const CallHooks& hooks) {
  Arguments arguments(json, input_schema(ToolId::Exec));
  HostChoice choice;
  choice.query = arguments.optional_text("query");
  auto ids = arguments.optional_text_list("hosts");
  arguments.require(ids.has_value() != choice.query.has_value() && !json.contains("host"),
                    std::string(ONE_CHOICE));
  choice.ids = ids.value_or(std::vector<std::string>());
  std::string command = arguments.text("command");
  const std::uint64_t timeout_seconds =
      arguments.optional_positive("timeout_seconds").value_or(options.timeout_seconds);
  if (!arguments.problem().empty()) return failure(bad_arguments(arguments.problem()));
  auto request = build_request(Operation{Operation::Exec{{}, std::move(command)}}, no_input);
  if (!request) return failure(request.error());
  return call_fleet_exec(choice, *request, timeout_seconds, options, converse, hooks);
}

}  // namespace

std::optional<ToolId> find_tool(std::string_view name) {
  for (const ToolEntry& tool : TOOLS) {
    if (tool.name == name) return tool.id;
  }
  return std::nullopt;
}

std::string_view tool_name(ToolId tool) { return entry_of(tool).name; }

Json describe_tool(ToolId tool) {
  const ToolEntry& entry = entry_of(tool);
  Json described = {{"name", entry.name},
                    {"title", entry.title},
                    {"description", entry.description},
                    {"inputSchema", input_schema(tool)},
                    {"outputSchema", output_schema(tool)}};
  described["annotations"] = annotations(tool);
  described["annotations"]["title"] = entry.title;
  return described;
}

std::optional<ToolError> host_refusal(const Options& options, const std::string& id) {
  if (!options.hosts || options.hosts->contains(id)) return std::nullopt;
  return ToolError{ErrorCode::HostNotFound, "主机 " + id + " 不在 --hosts 允许的范围内"};
}

Json error_result(const ToolError& error) { return failure(error); }

std::string error_line_text(const ToolError& error) {
  std::string line = format_error_line(error);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

std::string dump(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::unique_ptr<ExecCapture> make_exec_capture(std::uint64_t limit) {
  return std::make_unique<CallEvents>(limit, ProgressReport());
}

Json call_tool(ToolId tool, const Json& arguments, const Options& options, const Converse& converse,
               const CallHooks& hooks) {
  if (names_several_hosts(tool, arguments)) {
    return call_on_several_hosts(arguments, options, converse, hooks);
  }
  auto built = build(tool, arguments, options);
  if (!built) return failure(built.error());
  if (auto refusal = hooks.admit ? hooks.admit(built->request) : std::nullopt) {
    return failure(*refusal);
  }
  // Progress is reported for transfers only; only exec has output.
  CallEvents events(options.max_output, tool == ToolId::Exec ? ProgressReport() : hooks.progress);
  const bool exec = tool == ToolId::Exec;
  CallTimer timer({
      .limit = hooks.stop ? std::chrono::seconds(built->timeout_seconds) : std::chrono::seconds(0),
      // A transfer may take long; it is given up only when nothing arrives.
      .idle = !exec,
      .beat_every = exec ? std::chrono::seconds(HEARTBEAT_INTERVAL) : std::chrono::seconds(0),
      .beat =
          hooks.heartbeat ? [&] { hooks.heartbeat(events.received()); } : std::function<void()>(),
      .expire = hooks.stop,
      .clock = hooks.clock,
  });
  events.watch_with(timer);
  auto reply = converse(built->request, events);
  if (timer.expired()) {
    if (exec) return success(events.exec_result(std::nullopt));
    return failure(
        ToolError{tool == ToolId::ListHosts ? ErrorCode::ConnectFailed : ErrorCode::TransferFailed,
                  "timed out: nothing arrived from the desktop application for " +
                      std::to_string(built->timeout_seconds) + " seconds"});
  }
  if (!reply) return failure(reply.error());
  return result_of(tool, *reply, options, events);
}

}  // namespace sorvane::mcp
