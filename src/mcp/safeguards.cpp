#include "mcp/safeguards.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <variant>

#include "mcp/confirmation.h"
#include "protocol/error_code.h"
#include "session/hosts.h"
#include "text/native_string.h"

namespace sorvane::mcp {
namespace {

constexpr std::string_view DECLINED = "declined by the user";
constexpr std::string_view ALTERED_STATE =
    "the requestState sent back was not handed out by this sorvane-mcp process, or was changed, so "
    "the call was not run; call again without requestState and inputResponses to be asked again";
constexpr std::string_view NEEDS_ELICITATION =
    "--confirm needs a client that can ask its user (the MCP elicitation capability); this "
    "client cannot, so the call was not run";

const Json& member(const Json& object, const char* name) {
  static const Json NULL_JSON;
  if (!object.is_object()) return NULL_JSON;
  const auto found = object.find(name);
  return found == object.end() ? NULL_JSON : *found;
}

Json text_or_null(const Json& value) { return value.is_string() ? value : Json(); }

// The arguments worth recording, as the agent gave them (before any check).
Json given_arguments(ToolId tool, const Json& arguments) {
  Json recorded = Json::object();
  const auto keep = [&](const char* name) {
    if (!member(arguments, name).is_null()) recorded[name] = member(arguments, name);
  };
  if (tool == ToolId::ListHosts) keep("query");
  if (tool == ToolId::Exec) {
    keep("command");
    keep("hosts");  // on several hosts, what was asked for, should the call be refused
    keep("query");
  }
  if (tool == ToolId::Download) keep("remote");
  if (tool == ToolId::Upload || tool == ToolId::Download) keep("local");
  if (tool == ToolId::Upload) keep("remote");
  return recorded;
}

// The arguments as they go out: the prepared command, the absolute paths.
Json sent_arguments(const Request& request) {
  return std::visit(
      [](const auto& member) -> Json {
        using Member = std::decay_t<decltype(member)>;
        if constexpr (std::is_same_v<Member, Request::List>) {
          return member.query ? Json{{"query", *member.query}} : Json::object();
        } else if constexpr (std::is_same_v<Member, Request::Exec>) {
          return {{"command", member.command}};
        } else if constexpr (std::is_same_v<Member, Request::Upload>) {
          return {{"local", native_to_utf8_lossy(member.source)}, {"remote", member.destination}};
        } else if constexpr (std::is_same_v<Member, Request::Download>) {
          return {{"remote", member.source}, {"local", native_to_utf8_lossy(member.destination)}};
        } else {
          return Json::object();
        }
      },
      request.member);
}

std::string host_of(const Request& request) {
  return std::visit(
      [](const auto& member) -> std::string {
        if constexpr (requires { member.host; }) {
          return member.host;
        } else {
          return {};
        }
      },
      request.member);
}

class IgnoredEvents final : public ConversationEvents {
 public:
  IoResult<void> output(RemoteStream, ByteSpan) override { return {}; }
  void progress(const TransferCounters&) override {}
};

// The host's name and address, for the question to the user.
Result<HostInfo, ToolError> look_up_host(const std::string& id, const Converse& converse) {
  IgnoredEvents ignored;
  auto hosts = hosts_of(converse(Request{Request::List{}}, ignored));
  if (!hosts) return fail(std::move(hosts).error());
  for (HostInfo& host : *hosts) {
    if (host.id == id) return std::move(host);
  }
  return fail(ToolError{ErrorCode::HostNotFound, "no saved host has the ID " + id});
}

CallOutcome outcome_of(const ToolResult& result, bool admitted) {
  if (is_error(result)) return admitted ? CallOutcome::Error : CallOutcome::Refused;
  if (timed_out(result)) return CallOutcome::TimedOut;
  return CallOutcome::Ok;
}

// An exec's exit code as the audit log writes it: null when there is none.
Json exit_code_of(const ToolResult& result) {
  const auto* exec = std::get_if<ExecOutcome>(&result.value);
  return exec != nullptr && exec->exit_code ? Json(*exec->exit_code) : Json();
}

// How long the server waits on the client; 0 seconds: as long as it takes.
Deadline limit_after(std::uint64_t seconds) {
  return seconds == 0 ? Deadline() : Deadline::after(std::chrono::seconds(seconds));
}

// Eight hex digits that tell this server's calls from another's on one log.
std::string random_call_prefix() {
  std::uint32_t value = 0;
  try {
    value = std::random_device()();
  } catch (const std::exception&) {  // no source of randomness: the clock will do
    value = static_cast<std::uint32_t>(std::chrono::system_clock::now().time_since_epoch().count());
  }
  std::array<char, 9> text{};
  std::snprintf(text.data(), text.size(), "%08x", static_cast<unsigned>(value));
  return text.data();
}

// How long the user's answer to a question holds: the call's own time limit,
// or the default one when calls have none, as a question should not wait
// for ever.
std::chrono::seconds answer_lifetime(std::uint64_t timeout_seconds) {
  return std::chrono::seconds(timeout_seconds > 0 ? timeout_seconds : DEFAULT_TIMEOUT_SECONDS);
}

// Why a request's answers were left aside, for the diagnostics.
std::string_view why_ignored(StateRefusal refusal) {
  switch (refusal) {
    case StateRefusal::Missing:
      return "they came without the requestState that asked for them";
    case StateRefusal::Expired:
      return "they came too late";
    case StateRefusal::OtherCall:
      return "they were for another call";
    case StateRefusal::Spent:
      return "their requestState already let a call run";
    case StateRefusal::Altered:
      break;
  }
  return "their requestState was changed, or sealed elsewhere";
}

bool has_answers(const RoundTrip& round) {
  return round.responses.is_object() && !round.responses.empty();
}

std::vector<std::string> ids_of(const std::vector<HostLabel>& hosts) {
  std::vector<std::string> ids;
  ids.reserve(hosts.size());
  for (const HostLabel& host : hosts) ids.push_back(host.id);
  return ids;
}

}  // namespace

bool asks_its_user(const Json& capabilities) {
  // Form mode is what is asked for; an empty object offers it.
  const Json& elicitation = member(capabilities, "elicitation");
  return elicitation.is_object() && (elicitation.empty() || elicitation.contains("form"));
}

class RecordingEvents final : public ConversationEvents {
 public:
  // `host`: one host of several, whose bytes are counted apart too.
  RecordingEvents(ConversationEvents& inner, CallRecord& record, std::string host = {})
      : inner_(inner), record_(record), host_(std::move(host)) {}

  IoResult<void> output(RemoteStream stream, ByteSpan chunk) override {
    {
      const std::lock_guard lock(record_.mutex_);
      record_.bytes_ += chunk.size();
      if (!host_.empty()) record_.host_bytes_[host_] += chunk.size();
    }
    return inner_.output(stream, chunk);
  }
  void progress(const TransferCounters& counters) override {
    {
      const std::lock_guard lock(record_.mutex_);
      record_.bytes_ = counters.bytes;
    }
    inner_.progress(counters);
  }
  void arrived(std::size_t bytes) override { inner_.arrived(bytes); }

 private:
  ConversationEvents& inner_;
  CallRecord& record_;
  std::string host_;
};

namespace {

// Each host's events counted on the record as they pass.
class RecordingObserver final : public FleetObserver {
 public:
  RecordingObserver(FleetObserver& inner, CallRecord& record, const FleetPlan& plan)
      : inner_(inner), record_(record), plan_(plan), recorders_(plan.hosts.size()) {}

  ConversationEvents& events(std::size_t host) override {
    return recorders_.at(host).emplace(inner_.events(host), record_, plan_.hosts.at(host).id);
  }
  void ended(std::size_t host, const HostOutcome& outcome) override { inner_.ended(host, outcome); }

 private:
  FleetObserver& inner_;
  CallRecord& record_;
  const FleetPlan& plan_;
  std::vector<std::optional<RecordingEvents>> recorders_;  // each touched by its host's thread
};

}  // namespace

CallRecord::CallRecord(std::string id, ToolId tool, const Json& arguments,
                       std::optional<RoundTrip> round)
    : id_(std::move(id)),
      tool_(tool),
      host_(text_or_null(member(arguments, "host"))),
      arguments_(given_arguments(tool, arguments)),
      round_(std::move(round)),
      arguments_digest_(round_ ? digest_arguments(arguments) : std::string()) {}

std::optional<InputRequired> CallRecord::input_required() const {
  const std::lock_guard lock(mutex_);
  return input_required_;
}

Safeguards::Safeguards(const Options& options, ClientRequests::Send send, Diagnose diagnose)
    : confirmed_tools_(options.confirm),
      timeout_seconds_(options.timeout_seconds),
      diagnose_(std::move(diagnose)),
      requests_(std::move(send)),
      call_prefix_(random_call_prefix()) {
  for (const NativePath& root : options.local_roots)
    local_roots_.push_back(native_to_argument(root));
  if (options.audit_log) audit_.emplace(*options.audit_log);
}

void Safeguards::client_initialized(const Json& params) {
  const Json& info = member(params, "clientInfo");
  {
    const std::lock_guard lock(mutex_);
    client_ = {{"name", text_or_null(member(info, "name"))},
               {"version", text_or_null(member(info, "version"))}};
  }
  const Json& capabilities = member(params, "capabilities");
  if (member(capabilities, "roots").is_object()) client_roots_.offered();
  client_elicits_ = asks_its_user(capabilities);
}

bool Safeguards::confirms(ToolId tool) const {
  return confirmed_tools_.contains(std::string(tool_name(tool)));
}

void Safeguards::client_roots_changed() { client_roots_.changed(); }

bool Safeguards::deliver_response(const Json& message) { return requests_.deliver(message); }

void Safeguards::call_cancelled() { requests_.wake(); }

bool Safeguards::input_ended(const Deadline& deadline) {
  requests_.close();
  std::set<std::shared_ptr<CallRecord>> open;
  {
    const std::lock_guard lock(mutex_);
    open = open_;
  }
  for (const auto& record : open) close_call(*record, nullptr, true);
  // A call that was closing itself meanwhile writes its own line: wait for it.
  std::unique_lock lock(mutex_);
  return all_written_.wait_for(lock, std::chrono::milliseconds(std::max(deadline.wait_ms(), 0)),
                               [this] { return open_.empty(); });
}

std::string Safeguards::next_call_id() {
  return call_prefix_ + "-" + std::to_string(++calls_opened_);
}

std::shared_ptr<CallRecord> Safeguards::open_call(ToolId tool, const Json& arguments,
                                                  std::optional<RoundTrip> round) {
  auto record = std::make_shared<CallRecord>(next_call_id(), tool, arguments, std::move(round));
  const std::lock_guard lock(mutex_);
  open_.insert(record);
  return record;
}

std::optional<ToolError> Safeguards::admit(CallRecord& record, const Request& request,
                                           const Converse& converse,
                                           const Cancellation& cancellation) {
  {
    const std::lock_guard lock(record.mutex_);
    record.arguments_ = sent_arguments(request);
  }
  if (auto refusal = check_local_path(record, request, cancellation)) {
    return decide(record, CallOutcome::Refused, std::move(*refusal));
  }
  const auto look_up = [&]() -> Result<std::vector<HostInfo>, ToolError> {
    auto host = look_up_host(host_of(request), converse);
    if (!host) return fail(std::move(host).error());
    return std::vector<HostInfo>{std::move(*host)};
  };
  if (auto asked = ask_first(record, request, {host_of(request)}, look_up)) return asked;
  if (auto unrecorded = write_started(record)) {
    return decide(record, CallOutcome::Refused, std::move(*unrecorded));
  }
  if (auto refusal = confirm(record, request, look_up, cancellation)) return refusal;
  const std::lock_guard lock(record.mutex_);
  record.admitted_ = true;
  return std::nullopt;
}

std::optional<ToolError> Safeguards::admit_fleet(
    CallRecord& record, const Request& exec, const std::vector<HostLabel>& hosts,
    const Result<std::vector<HostInfo>, ToolError>& listed, const Cancellation& cancellation) {
  {
    const std::lock_guard lock(record.mutex_);
    record.arguments_ = sent_arguments(exec);
  }
  // Every host was found in the list, or the list failed.
  const auto look_up = [&]() -> Result<std::vector<HostInfo>, ToolError> {
    if (!listed) return fail(listed.error());
    std::vector<HostInfo> found;
    for (const HostLabel& host : hosts) {
      for (const HostInfo& info : *listed) {
        if (info.id == host.id) found.push_back(info);
      }
    }
    return found;
  };
  if (auto asked = ask_first(record, exec, ids_of(hosts), look_up)) return asked;
  for (const HostLabel& host : hosts) {
    const Json id = host.id;
    if (auto unrecorded = write_started(record, &id)) {
      return decide(record, CallOutcome::Refused, std::move(*unrecorded));
    }
    const std::lock_guard lock(record.mutex_);
    record.started_hosts_.push_back(host.id);
  }
  if (auto refusal = confirm(record, exec, look_up, cancellation)) return refusal;
  const std::lock_guard lock(record.mutex_);
  record.admitted_ = true;
  return std::nullopt;
}

std::optional<ToolError> Safeguards::confirm(CallRecord& record, const Request& request,
                                             const LookUpHosts& look_up,
                                             const Cancellation& cancellation) {
  if (!confirms(record.tool_)) return std::nullopt;
  if (record.round_) {  // the answer came with the request (ask_first)
    if (record.accepted_) return std::nullopt;
    return decide(record, CallOutcome::Declined, {ErrorCode::BadRequest, std::string(DECLINED)});
  }
  if (!client_elicits_) {
    return decide(record, CallOutcome::Refused,
                  {ErrorCode::BadRequest, std::string(NEEDS_ELICITATION)});
  }
  {
    const std::lock_guard lock(record.mutex_);
    record.admitted_ = true;  // the host lookup asks the desktop application
  }
  auto hosts = look_up();
  if (!hosts) return std::move(hosts).error();
  if (!user_agrees(*hosts, request, cancellation)) {
    return decide(record, CallOutcome::Declined, {ErrorCode::BadRequest, std::string(DECLINED)});
  }
  return std::nullopt;
}

std::optional<ToolError> Safeguards::ask_first(CallRecord& record, const Request& request,
                                               std::vector<std::string> hosts,
                                               const LookUpHosts& look_up) {
  if (!record.round_) return std::nullopt;
  const RoundTrip& round = *record.round_;
  const auto now = RequestStateSeal::Clock::now();
  Json requests = Json::object();
  if (record.roots_wanted_) requests["roots"] = {{"method", "roots/list"}};
  AskedCall asked{std::string(tool_name(record.tool_)), std::move(hosts), record.arguments_digest_};
  const auto refusal =
      has_answers(round) ? state_refusal(record, asked) : std::optional(StateRefusal::Missing);
  if (refusal == StateRefusal::Altered) {
    return decide(record, CallOutcome::Refused,
                  {ErrorCode::BadRequest, std::string(ALTERED_STATE)});
  }
  if (confirms(record.tool_)) {
    const Json& answer = member(round.responses, "confirm");
    if (!record.roots_wanted_ && answer.is_object() && !refusal) {
      record.accepted_ = confirmed(answer);
      return std::nullopt;
    }
    auto found = look_up();
    if (!found) return decide(record, CallOutcome::Refused, std::move(found).error());
    requests["confirm"] = {{"method", "elicitation/create"},
                           {"params", confirmation_question(*found, request)}};
  }
  if (requests.empty()) return std::nullopt;
  const std::lock_guard lock(record.mutex_);
  record.input_required_ = InputRequired{
      std::move(requests), seal_.seal(asked, now + answer_lifetime(timeout_seconds_))};
  // Never shown: the result is the input_required above.
  return ToolError{ErrorCode::BadRequest, "the client was asked first"};
}

std::optional<ToolError> Safeguards::decide(CallRecord& record, CallOutcome outcome,
                                            ToolError error) {
  const std::lock_guard lock(record.mutex_);
  record.decided_ = outcome;
  return error;
}

std::optional<ToolError> Safeguards::check_local_path(CallRecord& record, const Request& request,
                                                      const Cancellation& cancellation) {
  const auto check = [&](const std::vector<std::string>& roots) -> std::optional<ToolError> {
    if (const auto* upload = std::get_if<Request::Upload>(&request.member)) {
      return check_confined(native_to_argument(upload->source), roots, NATIVE_PATH_STYLE, resolve_);
    }
    if (const auto* download = std::get_if<Request::Download>(&request.member)) {
      return check_download_confined(native_to_argument(download->destination), download->source,
                                     roots, NATIVE_PATH_STYLE, resolve_, is_folder_);
    }
    return std::nullopt;
  };
  if (!record.round_) return check(allowed_roots(cancellation));
  // A stateless call asks the client's roots only when the operator's
  // folders do not allow the path, and only of a client that offers them.
  std::vector<std::string> roots = local_roots_;
  const auto given = given_roots(record, request);
  if (given) roots.insert(roots.end(), given->begin(), given->end());
  auto refusal = check(roots);
  if (refusal && !given && member(record.round_->capabilities, "roots").is_object()) {
    record.roots_wanted_ = true;
    return std::nullopt;
  }
  return refusal;
}

std::optional<std::vector<std::string>> Safeguards::given_roots(CallRecord& record,
                                                                const Request& request) {
  const RoundTrip& round = *record.round_;
  const Json& listing = member(round.responses, "roots");
  if (!member(round.capabilities, "roots").is_object() || !listing.is_object()) return std::nullopt;
  const AskedCall asked{
      std::string(tool_name(record.tool_)), {host_of(request)}, record.arguments_digest_};
  if (state_refusal(record, asked)) return std::nullopt;
  return roots_in(listing);
}

std::optional<StateRefusal> Safeguards::state_refusal(CallRecord& record, const AskedCall& asked) {
  if (!record.state_checked_) {
    const auto& state = record.round_->state;
    record.state_checked_ =
        state ? seal_.accept(*state, asked, RequestStateSeal::Clock::now()) : StateRefusal::Missing;
    if (*record.state_checked_) {
      diagnose_("ignored the client's answers: " +
                std::string(why_ignored(**record.state_checked_)));
    }
  }
  return *record.state_checked_;
}

bool Safeguards::user_agrees(std::span<const HostInfo> hosts, const Request& request,
                             const Cancellation& cancellation) {
  auto answer = requests_.ask("elicitation/create", confirmation_question(hosts, request),
                              limit_after(timeout_seconds_), cancellation);
  return answer && confirmed(*answer);
}

std::vector<std::string> Safeguards::allowed_roots(const Cancellation& cancellation) {
  std::vector<std::string> roots = local_roots_;
  for (std::string& root : client_roots_.current([&] { return list_client_roots(cancellation); })) {
    roots.push_back(std::move(root));
  }
  return roots;
}

std::optional<std::vector<std::string>> Safeguards::list_client_roots(
    const Cancellation& cancellation) {
  auto listed =
      requests_.ask("roots/list", Json::object(), limit_after(timeout_seconds_), cancellation);
  if (!listed) {
    diagnose_("cannot list the client's roots: " + listed.error().text);
    return std::nullopt;
  }
  return roots_in(*listed);
}

std::vector<std::string> Safeguards::roots_in(const Json& listing) {
  std::vector<std::string> roots;
  const Json& entries = member(listing, "roots");
  for (const Json& entry : entries.is_array() ? entries : Json::array()) {
    const Json& uri = member(entry, "uri");
    auto path = uri.is_string()
                    ? path_from_file_uri(uri.get_ref<const std::string&>(), NATIVE_PATH_STYLE)
                    : std::nullopt;
    if (path) {
      roots.push_back(std::move(*path));
    } else {
      diagnose_("ignored a client root that is no local folder: " + uri.dump());
    }
  }
  return roots;
}

FinalReply Safeguards::converse_recorded(CallRecord& record, const Request& request,
                                         ConversationEvents& events, const Converse& converse) {
  {
    const std::lock_guard lock(record.mutex_);
    // The desktop application is asked: what follows is no refusal of the
    // server's own (an exec on several hosts lists the hosts first).
    record.admitted_ = true;
  }
  RecordingEvents recording(events, record);
  FinalReply reply = converse(request, recording);
  if (reply) {
    if (const auto* done = std::get_if<Reply::TransferDone>(&reply->value)) {
      const std::lock_guard lock(record.mutex_);
      record.bytes_ = done->summary.bytes;
    }
  }
  return reply;
}

std::vector<HostOutcome> Safeguards::run_fleet_recorded(CallRecord& record, const FleetPlan& plan,
                                                        const std::string& command,
                                                        FleetObserver& observer, FleetStop& stop,
                                                        const RunFleet& run_fleet) {
  RecordingObserver recording(observer, record, plan);
  return run_fleet(plan, command, recording, stop);
}

void Safeguards::close_call(CallRecord& record, const ToolResult* result, bool cancelled) {
  std::vector<AuditEntry> lines;
  {
    const std::lock_guard lock(record.mutex_);
    if (record.closed_) return;
    record.closed_ = true;
    AuditEntry entry;
    entry.call = record.id_;
    entry.tool = tool_name(record.tool_);
    entry.host = record.host_;
    entry.arguments = record.arguments_;
    entry.bytes = record.bytes_;
    if (cancelled || result == nullptr) {
      entry.outcome = CallOutcome::Cancelled;
    } else {
      entry.outcome = record.decided_.value_or(outcome_of(*result, record.admitted_));
      if (is_error(*result)) {
        entry.error = result_text(*result);
      } else if (record.tool_ == ToolId::Exec) {
        entry.exit_code = exit_code_of(*result);
      }
    }
    // A call that asked the client first ran nothing: the request that
    // brings the answer is the one recorded.
    if (!record.input_required_) lines = outcome_lines(record, std::move(entry), result);
  }
  if (audit_) {
    const auto duration_ms =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - record.started_)
                                       .count());
    for (AuditEntry& line : lines) {
      line.duration_ms = duration_ms;
      (void)write(std::move(line));
    }
  }
  // Open until its lines are written: the end of input waits for them.
  {
    const std::lock_guard lock(mutex_);
    for (auto it = open_.begin(); it != open_.end(); ++it) {
      if (it->get() == &record) {
        open_.erase(it);
        break;
      }
    }
  }
  all_written_.notify_all();
}

std::vector<AuditEntry> Safeguards::outcome_lines(const CallRecord& record, AuditEntry call,
                                                  const ToolResult* result) {
  const bool each_host =
      result != nullptr && call.outcome != CallOutcome::Cancelled && !record.decided_;
  const auto* fleet = each_host ? std::get_if<FleetExecOutcome>(&result->value) : nullptr;
  std::vector<AuditEntry> lines;
  const auto host_line = [&](const std::string& id) {
    AuditEntry line = call;
    line.host = id;
    const auto bytes = record.host_bytes_.find(id);
    line.bytes = bytes == record.host_bytes_.end() ? 0 : bytes->second;
    return line;
  };
  if (fleet != nullptr) {  // each host's own outcome
    for (const HostEnd& host : fleet->hosts) {
      AuditEntry line = host_line(host.id);
      const bool started = std::find(record.started_hosts_.begin(), record.started_hosts_.end(),
                                     host.id) != record.started_hosts_.end();
      line.exit_code = host.exit_code ? Json(*host.exit_code) : Json();
      line.error = host.error;
      line.outcome = !started         ? CallOutcome::Refused
                     : host.timed_out ? CallOutcome::TimedOut
                     : line.error     ? CallOutcome::Error
                                      : CallOutcome::Ok;
      lines.push_back(std::move(line));
    }
    return lines;
  }
  // The call's outcome, on each host that had a `started` line.
  for (const std::string& id : record.started_hosts_) lines.push_back(host_line(id));
  if (lines.empty()) lines.push_back(std::move(call));
  return lines;
}

void Safeguards::record_refused(std::string_view tool, const Json& arguments,
                                std::string_view why) {
  if (!audit_) return;
  AuditEntry entry;
  entry.call = next_call_id();
  entry.tool = tool;
  entry.host = text_or_null(member(arguments, "host"));
  entry.arguments = arguments.is_object() ? arguments : Json::object();
  entry.arguments.erase("host");  // a member of its own, as on every line
  entry.outcome = CallOutcome::Refused;
  entry.error = why;
  (void)write(std::move(entry));
}

std::optional<ToolError> Safeguards::write_started(CallRecord& record, const Json* host) {
  if (!audit_) return std::nullopt;
  AuditEntry entry;
  {
    const std::lock_guard lock(record.mutex_);
    entry.call = record.id_;
    entry.tool = tool_name(record.tool_);
    entry.host = host != nullptr ? *host : record.host_;
    entry.arguments = record.arguments_;
  }
  auto written = write(std::move(entry));
  if (written) return std::nullopt;
  return ToolError{
      ErrorCode::BadRequest,
      "the audit log cannot be written, so the call was not run: " + written.error().text};
}

IoResult<void> Safeguards::write(AuditEntry entry) {
  {
    const std::lock_guard lock(mutex_);
    entry.client = client_;
  }
  entry.time = std::chrono::system_clock::now();
  auto written = audit_->append(entry);
  if (!written) diagnose_("cannot write the audit log: " + written.error().text);
  return written;
}

}  // namespace sorvane::mcp
