#include "mcp/server.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <utility>

#include "base/version.h"
#include "mcp/line_reader.h"
#include "output/inert_text.h"
#include "protocol/error_code.h"

namespace sorvane::mcp {
namespace {

// JSON-RPC error codes.
constexpr int PARSE_ERROR = -32700;
constexpr int INVALID_REQUEST = -32600;
constexpr int METHOD_NOT_FOUND = -32601;
constexpr int INVALID_PARAMS = -32602;
constexpr int INTERNAL_ERROR = -32603;
// Of the range JSON-RPC leaves to servers: every place for a call is taken.
constexpr int SERVER_BUSY = -32000;
constexpr int MISSING_CLIENT_CAPABILITY = -32021;
constexpr int UNSUPPORTED_PROTOCOL_VERSION = -32022;

// The members of a stateless request's `_meta` that name its protocol and client.
constexpr const char* PROTOCOL_VERSION_KEY = "io.modelcontextprotocol/protocolVersion";
constexpr const char* CLIENT_CAPABILITIES_KEY = "io.modelcontextprotocol/clientCapabilities";
constexpr const char* CLIENT_INFO_KEY = "io.modelcontextprotocol/clientInfo";
constexpr const char* SERVER_INFO_KEY = "io.modelcontextprotocol/serverInfo";

constexpr std::string_view INSTRUCTIONS =
    "Runs commands and copies files on the SSH hosts saved in Sorvane. Call list_hosts first: the "
    "other tools take a host's id.";

// How long a client may keep the tool list and the discovery answer. They do
// not change while the process runs, but another sorvane-mcp with other
// --tools answers under the same name and version, and a client may keep
// answers across connections by that name.
constexpr std::uint64_t CACHE_TTL_MS = 60'000;

bool is_valid_id(const Json& id) { return id.is_string() || id.is_number_integer(); }

// A member of an object, or null.
const Json& member(const Json& object, const char* name) {
  static const Json NULL_JSON;
  if (!object.is_object()) return NULL_JSON;
  const auto found = object.find(name);
  return found == object.end() ? NULL_JSON : *found;
}

// The message on `line`; `too_deep` tells whether arrays or objects in it
// were nested past the limit, and were left out. The parser itself keeps its
// nesting on the heap, so any depth parses without touching the stack.
Json parse_message(std::string_view line, bool& too_deep) {
  const Json::parser_callback_t bound = [&too_deep](int depth, Json::parse_event_t event, Json&) {
    const bool opens =
        event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
    if (opens && depth >= MAX_MESSAGE_DEPTH) too_deep = true;
    return !(opens && depth >= MAX_MESSAGE_DEPTH);
  };
  return Json::parse(line.begin(), line.end(), bound, false);
}

// The message on `line`, as parse_message. Text in it that cannot be
// decoded fails the whole parse, and with it the request's id; so the line
// is parsed again with that text replaced, twice over by different
// characters, and the first place where the two differ is where it stood
// (`undecodable`, a JSON pointer).
Json decode_line(std::string_view line, bool& too_deep, std::optional<std::string>& undecodable) {
  Json message = parse_message(line, too_deep);
  if (!message.is_discarded() || too_deep) return message;
  Json first = parse_message(with_undecodable_replaced(line, "\\ufffd"), too_deep);
  if (first.is_discarded() && !too_deep) return message;  // not JSON even so
  bool also_too_deep = false;
  const Json second = parse_message(with_undecodable_replaced(line, "\\ufffe"), also_too_deep);
  const Json differences = Json::diff(first, second);
  undecodable = differences.empty() ? std::string() : differences[0].value("path", "");
  return first;
}

// "the argument `command`" for "/params/arguments/command/...", else the
// member the pointer names.
std::string undecodable_place(std::string_view pointer) {
  constexpr std::string_view ARGUMENTS = "/params/arguments/";
  if (pointer.empty()) return "the message";  // where a later duplicate member hid it
  if (!pointer.starts_with(ARGUMENTS)) return "the member " + std::string(pointer);
  std::string_view token = pointer.substr(ARGUMENTS.size());
  token = token.substr(0, token.find('/'));
  std::string name;
  for (std::size_t i = 0; i < token.size(); ++i) {
    if (token[i] == '~' && i + 1 < token.size()) {
      name += token[++i] == '1' ? '/' : '~';
    } else {
      name += token[i];
    }
  }
  return "the argument `" + name + "`";
}

std::string_view negotiated_version(const Json& asked) {
  if (asked.is_string()) {
    for (std::string_view version : PROTOCOL_VERSIONS) {
      if (asked.get_ref<const std::string&>() == version) return version;
    }
  }
  return PROTOCOL_VERSIONS[0];
}

Json server_info() {
  return {{"name", "sorvane-mcp"}, {"title", "Sorvane"}, {"version", std::string(PROGRAM_VERSION)}};
}

Json capabilities() { return {{"tools", {{"listChanged", false}}}}; }

// Private: the tools offered depend on this process's command line.
Json with_cache_hints(Json result) {
  result["ttlMs"] = CACHE_TTL_MS;
  result["cacheScope"] = "private";
  return result;
}

// What a stateless client learns before its first call. Every version is
// listed: the handshake's are served too, to a client that starts with
// `initialize` instead.
Json discovery() {
  Json versions = {STATELESS_PROTOCOL_VERSION};
  for (std::string_view version : PROTOCOL_VERSIONS) versions.push_back(version);
  Json result = {{"supportedVersions", std::move(versions)},
                 {"capabilities", capabilities()},
                 {"instructions", INSTRUCTIONS},
                 {"_meta", {{SERVER_INFO_KEY, server_info()}}}};
  return with_cache_hints(std::move(result));
}

Json progress_notification(const Json& token, const TransferCounters& counters) {
  return {{"jsonrpc", "2.0"},
          {"method", "notifications/progress"},
          {"params",
           {{"progressToken", token},
            {"progress", counters.bytes},
            {"total", counters.total_bytes},
            {"message", std::to_string(counters.files) + "/" +
                            std::to_string(counters.total_files) + " files"}}}};
}

// An exec still running: its output so far, and `progress` that grows with
// each one, as the protocol asks.
Json heartbeat_notification(const Json& token, std::uint64_t progress, std::uint64_t received) {
  return {{"jsonrpc", "2.0"},
          {"method", "notifications/progress"},
          {"params",
           {{"progressToken", token},
            {"progress", progress},
            {"message", std::to_string(received) + " bytes of output so far"}}}};
}

}  // namespace

void MessageWriter::send(const Json& message) {
  std::string line = dump(message);
  line += '\n';
  const std::lock_guard lock(mutex_);
  auto written = out_.write_all(as_bytes(line));
  if (written) written = out_.flush();
  if (!written) {
    const std::string note =
        "sorvane-mcp: cannot write to standard output: " + written.error().text + "\n";
    (void)diagnostics_.write_all(as_bytes(note));
  }
}

void MessageWriter::diagnose(std::string_view text) {
  // Notes may quote what a client sent.
  const std::string line = "sorvane-mcp: " + inert(text) + "\n";
  const std::lock_guard lock(mutex_);
  (void)diagnostics_.write_all(as_bytes(line));
}

// How long the end of input waits for the open calls' audit lines. Their
// conversations are shut down at once, so only a stalled log write takes long.
constexpr std::chrono::seconds AUDIT_WAIT{5};

// The calls in flight, by request id, queued or running. A call's result is
// sent only by the side that removes it: the call when it ends, or a
// cancellation, never both.
struct Server::Calls {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<Call>> open;
  // Calls taken and not yet ended, waiting or running, and the bytes of
  // their messages; a cancelled call keeps its place until its thread has
  // let it go.
  std::size_t placed = 0;
  std::size_t placed_bytes = 0;

  // A place for a new call of `bytes`, unless the calls in place already fill
  // `most` or `most_bytes`; one call alone always has a place.
  bool take_place(std::size_t bytes, std::size_t most, std::size_t most_bytes) {
    const std::lock_guard lock(mutex);
    if (placed > 0 && (placed >= most || placed_bytes + bytes > most_bytes)) return false;
    ++placed;
    placed_bytes += bytes;
    return true;
  }
  void free_place(std::size_t bytes) {
    const std::lock_guard lock(mutex);
    --placed;
    placed_bytes -= bytes;
  }

  bool contains(const std::string& key) {
    const std::lock_guard lock(mutex);
    return open.contains(key);
  }
  void add(const std::string& key, std::shared_ptr<Call> call) {
    const std::lock_guard lock(mutex);
    open.emplace(key, std::move(call));
  }
  // Whether the call's result is still wanted.
  bool finish(const std::string& key) {
    const std::lock_guard lock(mutex);
    return open.erase(key) > 0;
  }
  void cancel(const std::string& key) {
    std::shared_ptr<Call> call;
    {
      const std::lock_guard lock(mutex);
      const auto found = open.find(key);
      if (found == open.end()) return;
      call = std::move(found->second);
      open.erase(found);
    }
    call->stop(Call::Stop::Cancelled);
  }
  void cancel_all() {
    std::map<std::string, std::shared_ptr<Call>> cancelled;
    {
      const std::lock_guard lock(mutex);
      cancelled.swap(open);
    }
    for (auto& [key, call] : cancelled) call->stop(Call::Stop::Cancelled);
  }
};

Server::Server(Options options, MessageWriter& writer, CallConverse converse,
               CallRunFleet run_fleet, TimerClock* clock)
    : options_(std::move(options)),
      writer_(writer),
      converse_(std::move(converse)),
      run_fleet_(std::move(run_fleet)),
      clock_(clock),
      calls_(std::make_unique<Calls>()),
      safeguards_(
          options_, [this](const Json& message) { writer_.send(message); },
          [this](std::string_view text) { writer_.diagnose(text); }),
      pool_(options_.max_calls) {}

Server::~Server() {
  cancel_all();
  // The pool, destroyed first, joins the calls' threads.
}

void Server::cancel_all() {
  calls_->cancel_all();
  if (!safeguards_.input_ended(Deadline::after(AUDIT_WAIT))) {
    writer_.diagnose("gave up waiting for the audit lines of the calls still open");
  }
}

void Server::handle_oversized_line() {
  writer_.diagnose("skipped a line longer than 16 MiB");
  reply_error(nullptr, INVALID_REQUEST, "Message too large: lines are limited to 16 MiB");
}

void Server::handle_line(std::string_view line) {
  if (line.find_first_not_of(" \t\r") == std::string_view::npos) return;
  line_bytes_ = line.size();
  bool too_deep = false;
  std::optional<std::string> undecodable;
  const Json message = decode_line(line, too_deep, undecodable);
  if (message.is_discarded() && !too_deep) {
    writer_.diagnose("answered a line that is not JSON with a parse error");
    reply_error(nullptr, PARSE_ERROR, "Parse error");
    return;
  }
  const Json& id = member(message, "id");
  const Json& method = member(message, "method");
  const bool has_id = message.is_object() && message.contains("id");
  if (too_deep) {
    writer_.diagnose("refused a message nested too deep");
    reply_error(is_valid_id(id) ? id : Json(), INVALID_REQUEST,
                "Invalid Request: arrays and objects nested deeper than " +
                    std::to_string(MAX_MESSAGE_DEPTH) + " levels");
    return;
  }
  if (!message.is_object() || member(message, "jsonrpc") != "2.0" || (has_id && !is_valid_id(id))) {
    reply_error(nullptr, INVALID_REQUEST, "Invalid Request");
    return;
  }
  if (undecodable) return refuse_undecodable(message, *undecodable);
  if (method.is_null() && has_id && (message.contains("result") || message.contains("error"))) {
    if (!safeguards_.deliver_response(message)) writer_.diagnose("ignored a stray response");
    return;
  }
  const Json& params = member(message, "params");
  if (!method.is_string() || !(params.is_null() || params.is_object())) {
    if (has_id) reply_error(id, INVALID_REQUEST, "Invalid Request");
    return;
  }
  const auto& name = method.get_ref<const std::string&>();
  if (has_id) {
    handle_request(id, name, params);
  } else {
    handle_notification(name, params);
  }
}

void Server::refuse_undecodable(const Json& message, const std::string& pointer) {
  writer_.diagnose("refused a message with text that cannot be decoded at " + pointer);
  const std::string why = undecodable_place(pointer) +
                          " holds text that cannot be decoded (half of a UTF-16 surrogate pair, "
                          "or bytes that are not UTF-8)";
  if (pointer == "/id") return reply_error(nullptr, PARSE_ERROR, "Parse error: " + why);
  if (!message.contains("id")) return;  // a notification: nothing to answer
  const Json& id = member(message, "id");
  const Json& method = member(message, "method");
  if (method.is_null()) {  // a response: the call waiting for it gets an error instead
    const Json error = {
        {"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", INVALID_PARAMS}, {"message", why}}}};
    if (!safeguards_.deliver_response(error)) writer_.diagnose("ignored a stray response");
    return;
  }
  if (!pointer.starts_with("/params/"))
    return reply_error(id, INVALID_REQUEST, "Invalid Request: " + why);
  const Json& params = member(message, "params");
  const Json& tool = member(params, "name");
  if (method == "tools/call" && era_ != Era::Undecided && tool.is_string()) {
    safeguards_.record_refused(tool.get_ref<const std::string&>(), member(params, "arguments"),
                               "Invalid params: " + why);
  }
  reply_error(id, INVALID_PARAMS, "Invalid params: " + why);
}

void Server::handle_request(const Json& id, const std::string& method, const Json& params) {
  switch (era_) {
    case Era::Handshake:
      return handle_handshake_request(id, method, params);
    case Era::Stateless:
      return handle_stateless_request(id, method, params);
    case Era::Undecided:
      break;
  }
  // Ping stays as it was before the handshake; it decides nothing.
  if (method == "ping") return reply(id, Json::object());
  if (method == "initialize") {
    era_ = Era::Handshake;
    return handle_handshake_request(id, method, params);
  }
  // Anything else must be a request of the stateless revision. Without its
  // `_meta` it is malformed, not early: a client of that revision knows no
  // initialize, and one of the handshake is told about it in the message.
  handle_stateless_request(id, method, params);
}

void Server::handle_handshake_request(const Json& id, const std::string& method,
                                      const Json& params) {
  if (method == "ping") return reply(id, Json::object());
  if (method == "initialize") {
    safeguards_.client_initialized(params);
    Json result = {{"protocolVersion", negotiated_version(member(params, "protocolVersion"))},
                   {"capabilities", capabilities()},
                   {"serverInfo", server_info()},
                   {"instructions", INSTRUCTIONS}};
    return reply(id, std::move(result));
  }
  if (method == "tools/list") return reply(id, list_tools());
  if (method == "tools/call") return start_call(id, params, std::nullopt);
  reply_error(id, METHOD_NOT_FOUND, "Method not found: " + method);
}

void Server::handle_stateless_request(const Json& id, const std::string& method,
                                      const Json& params) {
  const Json& meta = member(params, "_meta");
  const Json& version = member(meta, PROTOCOL_VERSION_KEY);
  if (!version.is_string() || !member(meta, CLIENT_CAPABILITIES_KEY).is_object()) {
    // Before the first request is served, the handshake is still open.
    const std::string first = era_ == Era::Undecided ? "send initialize first, or " : "";
    return reply_error(id, INVALID_PARAMS,
                       "Invalid params: " + first +
                           "name the protocol version and the client's capabilities in the "
                           "request's _meta (" +
                           PROTOCOL_VERSION_KEY + ", " + CLIENT_CAPABILITIES_KEY + ")");
  }
  if (version != STATELESS_PROTOCOL_VERSION) {
    const auto& requested = version.get_ref<const std::string&>();
    return reply_error(id, UNSUPPORTED_PROTOCOL_VERSION,
                       "Unsupported protocol version: " + requested,
                       {{"supported", {STATELESS_PROTOCOL_VERSION}}, {"requested", requested}});
  }
  era_ = Era::Stateless;
  if (method == "server/discover") return reply(id, discovery());
  if (method == "tools/list") return reply(id, with_cache_hints(list_tools()));
  if (method == "tools/call") {
    // For the audit log: the client as this request names it. Its
    // capabilities travel with this call only.
    safeguards_.client_initialized(Json{{"clientInfo", member(meta, CLIENT_INFO_KEY)}});
    const Json& state = member(params, "requestState");
    return start_call(
        id, params,
        RoundTrip{member(meta, CLIENT_CAPABILITIES_KEY), member(params, "inputResponses"),
                  state.is_string() ? std::optional(state.get<std::string>()) : std::nullopt});
  }
  reply_error(id, METHOD_NOT_FOUND, "Method not found: " + method);
}

void Server::handle_notification(const std::string& method, const Json& params) {
  if (method == "notifications/roots/list_changed" && era_ != Era::Stateless) {
    return safeguards_.client_roots_changed();
  }
  if (method != "notifications/cancelled") return;  // the others need nothing
  const Json& request_id = member(params, "requestId");
  if (is_valid_id(request_id)) calls_->cancel(dump(request_id));
  safeguards_.call_cancelled();
}

bool Server::offered(ToolId tool) const {
  return options_.tools.empty() || options_.tools.contains(std::string(tool_name(tool)));
}

Json Server::list_tools() const {
  Json tools = Json::array();
  for (ToolId tool : ALL_TOOLS) {
    if (offered(tool)) tools.push_back(describe_tool(tool));
  }
  return {{"tools", std::move(tools)}};
}

void Server::start_call(const Json& id, const Json& params, std::optional<RoundTrip> round) {
  const Json& name = member(params, "name");
  if (!name.is_string()) return reply_error(id, INVALID_PARAMS, "Invalid params: no tool name");
  const auto tool = find_tool(name.get_ref<const std::string&>());
  if (!tool || !offered(*tool)) {
    const std::string why = "Unknown tool: " + name.get<std::string>();
    safeguards_.record_refused(name.get_ref<const std::string&>(), member(params, "arguments"),
                               why);
    return reply_error(id, INVALID_PARAMS, why);
  }
  // The user is asked through the client, in the call's result: a client
  // that cannot ask is told so before anything happens.
  if (round && safeguards_.confirms(*tool) && !asks_its_user(round->capabilities)) {
    const std::string why = "Missing required client capability: elicitation (--confirm " +
                            std::string(tool_name(*tool)) + " asks the user before each call)";
    safeguards_.record_refused(name.get_ref<const std::string&>(), member(params, "arguments"),
                               why);
    return reply_error(id, MISSING_CLIENT_CAPABILITY, why,
                       {{"requiredCapabilities", {{"elicitation", {{"form", Json::object()}}}}}});
  }
  const std::string key = dump(id);
  // Only this thread adds calls, so the id is still free when it is added.
  if (calls_->contains(key)) {
    return reply_error(id, INVALID_REQUEST, "A request with this id is running");
  }
  const Json& arguments = member(params, "arguments");
  const std::size_t bytes = line_bytes_;
  if (!calls_->take_place(bytes, options_.max_calls + MAX_WAITING_CALLS, MAX_OPEN_CALL_BYTES)) {
    const std::string why =
        "Server busy: too many tool calls are waiting for their turn (at most " +
        std::to_string(MAX_WAITING_CALLS) + " past --max-calls, with " +
        std::to_string(MAX_OPEN_CALL_BYTES / (std::size_t{1024} * 1024)) +
        " MiB of messages among all open calls); call again once one has ended";
    safeguards_.record_refused(name.get_ref<const std::string&>(), arguments, why);
    return reply_error(id, SERVER_BUSY, why);
  }
  const Json& given_token = member(member(params, "_meta"), "progressToken");
  const Json token = is_valid_id(given_token) ? given_token : Json();
  Call::Settings settings;
  settings.record = safeguards_.open_call(*tool, arguments, std::move(round));
  settings.clock = clock_;
  if (!token.is_null()) {
    settings.beat = [this, token](std::uint64_t progress, std::uint64_t received) {
      writer_.send(heartbeat_notification(token, progress, received));
    };
  }
  auto call = std::make_shared<Call>(std::move(settings));
  calls_->add(key, call);
  auto queued = pool_.submit([this, tool = *tool, id, key, call, token, bytes,
                              arguments = arguments.is_null() ? Json::object() : arguments] {
    run_call(tool, id, key, *call, arguments, token, bytes);
  });
  if (!queued) {
    safeguards_.close_call(*call->record(), nullptr, true);
    calls_->free_place(bytes);
  }
  if (!queued && calls_->finish(key)) {
    writer_.diagnose("cannot start a tool call: " + queued.error());
    reply_error(id, INTERNAL_ERROR, "Internal error: cannot start the call: " + queued.error());
  }
}

void Server::run_call(ToolId tool, const Json& id, const std::string& key, Call& call,
                      const Json& arguments, const Json& token, std::size_t bytes) {
  CallRecord& record = *call.record();
  if (call.stopped()) {  // while it waited
    safeguards_.close_call(record, nullptr, true);
    return calls_->free_place(bytes);
  }
  CallHooks hooks;
  if (!token.is_null()) {
    hooks.progress = [&](const TransferCounters& counters) {
      if (!call.stopped()) writer_.send(progress_notification(token, counters));
    };
  }
  const Converse held = [&](const Request& request, ConversationEvents& events) {
    return converse_(request, events, call.cancellation());
  };
  const Converse recorded = [&](const Request& request, ConversationEvents& events) {
    return Safeguards::converse_recorded(record, request, events, held);
  };
  hooks.admit = [&](const Request& request) {
    return safeguards_.admit(record, request, held, call.cancellation());
  };
  hooks.admit_fleet = [&](const Request& exec, const std::vector<HostLabel>& hosts,
                          const Result<std::vector<HostInfo>, ToolError>& listed) {
    return safeguards_.admit_fleet(record, exec, hosts, listed, call.cancellation());
  };
  if (run_fleet_) {
    hooks.run_fleet = [&](const FleetPlan& plan, const std::string& command,
                          FleetObserver& observer, FleetStop& stop) {
      return Safeguards::run_fleet_recorded(record, plan, command, observer, stop, run_fleet_);
    };
  }
  ToolResult result = call_tool(tool, arguments, options_, recorded, call, hooks);
  // A call that asked the client first: what it asks is its whole result.
  if (auto asked = record.input_required()) result.value = std::move(*asked);
  safeguards_.close_call(record, &result, call.cancelled());
  const bool wanted = calls_->finish(key);
  calls_->free_place(bytes);  // before the answer: a client calling again on it finds room
  if (wanted) reply(id, call_tool_result(result));
}

void Server::reply(const Json& id, Json result) {
  // Every answer of the stateless revision says whether it is complete, or
  // asks the client for more first.
  if (era_ == Era::Stateless && !result.contains("resultType")) result["resultType"] = "complete";
  writer_.send({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
}

void Server::reply_error(const Json& id, int code, std::string_view message, Json data) {
  Json error = {{"code", code}, {"message", message}};
  if (!data.is_null()) error["data"] = std::move(data);
  writer_.send({{"jsonrpc", "2.0"}, {"id", id}, {"error", std::move(error)}});
}

}  // namespace sorvane::mcp
