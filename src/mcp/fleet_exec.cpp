#include "mcp/fleet_exec.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <variant>

#include "base/duration.h"
#include "mcp/call.h"
#include "mcp/call_timer.h"
#include "mcp/options.h"
#include "mcp/tools.h"
#include "output/inert_text.h"
#include "protocol/error_code.h"
#include "session/hosts.h"
#include "session/identical_groups.h"

namespace sorvane::mcp {
namespace {

// The members of a host's result that make two results the same, as
// gathered output folds them; a group carries them once.
constexpr std::array<const char*, 8> FOLDED = {
    "exit_code",      "timed_out",      "stdout", "stderr",
    "stdout_omitted", "stderr_omitted", "error",  "cut"};

std::optional<std::string> error_text(const std::optional<ToolError>& error) {
  if (!error) return std::nullopt;
  return error_line_text(*error);
}

Json text_or_null(const std::optional<std::string>& text) { return text ? Json(*text) : Json(); }

Json code_or_null(const std::optional<std::int32_t>& code) { return code ? Json(*code) : Json(); }

Json name_json(const HostLabel& host) { return host.name ? Json(*host.name) : Json(nullptr); }

// A host that never ran: its ID, its name, and why.
Json unrun_result(const HostLabel& host, const ToolError& why) {
  return {{"id", host.id},
          {"name", name_json(host)},
          {"exit_code", nullptr},
          {"timed_out", false},
          {"stdout", ""},
          {"stderr", ""},
          {"stdout_omitted", 0},
          {"stderr_omitted", 0},
          {"error", error_line_text(why)},
          {"cut", false}};
}

HostEnd unrun_end(const HostLabel& host, const ToolError& why) {
  return {host.id, std::nullopt, false, error_line_text(why)};
}

Json folded_part(const Json& result) {
  Json part = Json::object();
  for (const char* member : FOLDED) part[member] = result.at(member);
  return part;
}

// Output past the bound is dropped from whole items, groups first, then
// results in order: once one does not fit, none after it keeps its output,
// so what is kept is always a prefix.
class OutputBudget {
 public:
  explicit OutputBudget(std::uint64_t bound) : left_(bound) {}

  // Whether `item` kept its output.
  bool spend(Json& item) {
    const std::uint64_t size = item["stdout"].get_ref<const std::string&>().size() +
                               item["stderr"].get_ref<const std::string&>().size();
    if (size == 0) return true;
    if (!spent_ && size <= left_) {
      left_ -= size;
      return true;
    }
    spent_ = true;
    item["stdout"] = "";
    item["stderr"] = "";
    item["cut"] = true;
    return false;
  }

 private:
  std::uint64_t left_;
  bool spent_ = false;
};

// A client may show the text as it is: the desktop application's names
// and messages are made inert, as in the confirmation question; the remote
// output is passed as it came.
std::string host_names(const Json& hosts) {
  std::string names;
  for (const Json& host : hosts) {
    if (!names.empty()) names += ", ";
    const std::string id = inert(host["id"].get<std::string>());
    names +=
        host["name"].is_string() ? inert(host["name"].get<std::string>()) + " (" + id + ")" : id;
  }
  return names;
}

std::string group_header(const Json& group) {
  const std::size_t count = group["hosts"].size();
  std::string header = "== " + std::to_string(count) + (count == 1 ? " host: " : " hosts: ") +
                       host_names(group["hosts"]) + " — ";
  if (group["timed_out"] == true) return header + "timed out\n";
  if (group["error"].is_string()) return header + inert(group["error"].get<std::string>()) + "\n";
  return header + "exit " + std::to_string(group["exit_code"].get<std::int64_t>()) + "\n";
}

std::string stream_text(const Json& group, const char* stream, const char* omitted) {
  const auto& text = group[stream].get_ref<const std::string&>();
  if (text.empty() && group[omitted] == 0) return {};
  // Appended piece by piece: GCC 12 at -O3 sees a false overlap in a chain
  // of string additions.
  std::string shown = "-- ";
  shown.append(stream).append("\n").append(text);
  if (!text.empty() && text.back() != '\n') shown += '\n';
  if (group[omitted] != 0) {
    shown.append("(")
        .append(std::to_string(group[omitted].get<std::uint64_t>()))
        .append(" bytes left out in the middle)\n");
  }
  return shown;
}

// What an agent reads: each group once, its hosts, its result, its output.
std::string groups_text(const Json& groups, std::size_t hosts, std::uint64_t bound) {
  std::string text = std::to_string(hosts) + (hosts == 1 ? " host in " : " hosts in ") +
                     std::to_string(groups.size()) + (groups.size() == 1 ? " group" : " groups") +
                     "\n";
  for (const Json& group : groups) {
    text += group_header(group);
    if (group["cut"] == true) {
      text +=
          "(output cut: a result carries at most " + std::to_string(bound) + " bytes of output)\n";
    }
    text += stream_text(group, "stdout", "stdout_omitted");
    text += stream_text(group, "stderr", "stderr_omitted");
  }
  return text;
}

bool ran(const Json& result) {
  return !result["exit_code"].is_null() || result["timed_out"] == true;
}

// The host list, or why there is none. The call's time limit bounds it: a
// desktop application that stalls on it must not hold the call for ever.
HostList list_hosts(const Converse& converse, const std::optional<std::string>& query,
                    std::chrono::seconds limit, Call& call) {
  const CallTimer timer(call.timer({.limit = limit}, {}));
  ConversationEvents passed_over;
  auto listed = hosts_of(converse(Request{Request::List{query}}, passed_over));
  // A list that came at the moment the limit passed is of no use: the
  // call is stopped, and no host can start.
  if (!timer.expired()) return listed;
  return fail(ToolError{ErrorCode::ConnectFailed,
                        "timed out after " + format_duration(limit) + " while listing the hosts"});
}

}  // namespace

class FleetCapture::Host final : public ConversationEvents {
 public:
  Host(FleetCapture& fleet, std::uint64_t limit)
      : fleet_(fleet), capture_(make_exec_capture(limit)) {}

  IoResult<void> output(RemoteStream stream, ByteSpan chunk) override {
    fleet_.received_ += chunk.size();
    return capture_->output(stream, chunk);
  }

  Json result(const HostLabel& label, bool stopped) const {
    const ExecOutcome captured = capture_->outcome(outcome_.exit_code);
    const HostEnd end = end_of(label, stopped);
    return {{"id", label.id},
            {"name", name_json(label)},
            {"exit_code", code_or_null(end.exit_code)},
            {"timed_out", end.timed_out},
            {"stdout", captured.out.text},
            {"stderr", captured.err.text},
            {"stdout_omitted", captured.out.omitted},
            {"stderr_omitted", captured.err.omitted},
            {"error", text_or_null(end.error)},
            {"cut", false}};
  }

  HostEnd end_of(const HostLabel& label, bool stopped) const {
    // A host the call's time limit stopped mid-run timed out, as one exec
    // does; one it kept from starting is not run. One that exited is its
    // exit, whatever the limit did after.
    const bool timed_out =
        outcome_.timed_out || (stopped && !outcome_.exit_code && !outcome_.not_run);
    return {label.id, outcome_.exit_code, timed_out,
            timed_out && stopped ? std::nullopt : error_text(outcome_.error)};
  }

  void end(const HostOutcome& outcome) { outcome_ = outcome; }

 private:
  FleetCapture& fleet_;
  std::unique_ptr<ExecCapture> capture_;
  HostOutcome outcome_{std::nullopt, connection_broken("the host never ended"), false, true};
};

FleetCapture::FleetCapture(std::size_t hosts, std::uint64_t limit) {
  hosts_.reserve(hosts);
  for (std::size_t i = 0; i < hosts; ++i) hosts_.push_back(std::make_unique<Host>(*this, limit));
}

FleetCapture::~FleetCapture() = default;

ConversationEvents& FleetCapture::events(std::size_t host) { return *hosts_.at(host); }

void FleetCapture::ended(std::size_t host, const HostOutcome& outcome) {
  hosts_.at(host)->end(outcome);
}

Json FleetCapture::host_result(std::size_t host, const HostLabel& label, bool stopped) const {
  return hosts_.at(host)->result(label, stopped);
}

HostEnd FleetCapture::host_end(std::size_t host, const HostLabel& label, bool stopped) const {
  return hosts_.at(host)->end_of(label, stopped);
}

std::uint64_t fleet_output_bound(const Options& options) {
  constexpr std::uint64_t TIMES = 4;
  constexpr std::uint64_t MOST = std::numeric_limits<std::uint64_t>::max();
  return options.max_output > MOST / TIMES ? MOST : TIMES * options.max_output;
}

Result<ChosenHosts, ToolError> choose_fleet_hosts(const HostChoice& choice, const HostList& listed,
                                                  const Options& options) {
  // Hosts the operator keeps from the agent stay unseen by a query, as
  // list_hosts keeps them.
  auto chosen = choose_hosts(choice, [&](const std::optional<std::string>&) -> HostList {
    if (!listed) return listed;
    std::vector<HostInfo> seen;
    for (const HostInfo& host : *listed) {
      if (!choice.query || !host_refusal(options, host.id)) seen.push_back(host);
    }
    return seen;
  });
  if (!chosen) return fail(std::move(chosen).error());
  ChosenHosts hosts{std::move(*chosen), {}};
  for (const HostLabel& host : hosts.hosts) {
    std::optional<ToolError> refused = host_refusal(options, host.id);
    if (!refused && listed && !host.name) {
      refused = ToolError{ErrorCode::HostNotFound, "no saved host has the ID " + host.id};
    }
    hosts.refused.push_back(std::move(refused));
  }
  return hosts;
}

FleetExecOutcome fleet_result(std::vector<Json> results, std::vector<HostEnd> ends,
                              std::uint64_t bound) {
  std::vector<std::string> parts;
  parts.reserve(results.size());
  for (const Json& result : results) parts.push_back(dump(folded_part(result)));
  const auto folded = identical_groups(
      results.size(),
      [&](std::size_t i) { return std::to_string(std::hash<std::string>{}(parts[i])); },
      [&](std::size_t a, std::size_t b) { return parts[a] == parts[b]; });

  OutputBudget budget(bound);
  Json groups = Json::array();
  std::uint64_t groups_cut = 0;
  for (const auto& members : folded) {
    Json group = {{"hosts", Json::array()}};
    for (const std::size_t i : members) {
      group["hosts"].push_back({{"id", results[i]["id"]}, {"name", results[i]["name"]}});
    }
    group.update(folded_part(results[members.front()]));
    if (!budget.spend(group)) ++groups_cut;
    groups.push_back(std::move(group));
  }
  std::uint64_t results_cut = 0;
  bool any_ran = false;
  for (Json& result : results) {
    any_ran = any_ran || ran(result);
    if (!budget.spend(result)) ++results_cut;
  }
  Json structured = {{"results", std::move(results)},
                     {"groups", std::move(groups)},
                     {"results_cut", results_cut},
                     {"groups_cut", groups_cut}};
  std::string text = groups_text(structured["groups"], structured["results"].size(), bound);
  return {std::move(ends), std::move(structured), std::move(text), any_ran};
}

ToolResult call_fleet_exec(const HostChoice& choice, const Request& exec,
                           std::uint64_t timeout_seconds, const Options& options,
                           const Converse& converse, Call& call, const CallHooks& hooks) {
  if (!hooks.run_fleet)
    return {ToolError{ErrorCode::BadRequest, "exec runs on one host at a time here"}};
  const auto listed =
      list_hosts(converse, choice.query, std::chrono::seconds(timeout_seconds), call);
  if (!listed && call.timed_out()) return {listed.error()};
  auto chosen = choose_fleet_hosts(choice, listed, options);
  if (!chosen) return {chosen.error()};

  FleetPlan plan;
  plan.parallel = options.parallel;
  std::vector<std::size_t> runs;  // per chosen host: its place in the plan
  for (std::size_t i = 0; i < chosen->hosts.size(); ++i) {
    runs.push_back(plan.hosts.size());
    if (!chosen->refused[i]) plan.hosts.push_back(chosen->hosts[i]);
  }
  if (!plan.hosts.empty() && hooks.admit_fleet) {
    if (auto refusal = hooks.admit_fleet(exec, plan.hosts, listed)) return {std::move(*refusal)};
  }

  FleetCapture capture(plan.hosts.size(), options.max_output);
  bool stopped = false;
  if (!plan.hosts.empty()) {
    const CallTimer timer(
        call.timer({.limit = std::chrono::seconds(timeout_seconds), .beating = true},
                   [&capture] { return capture.received(); }));
    (void)hooks.run_fleet(plan, std::get<Request::Exec>(exec.member).command, capture,
                          call.fleet_stop());
    stopped = timer.expired();
  }
  std::vector<Json> results;
  std::vector<HostEnd> ends;
  for (std::size_t i = 0; i < chosen->hosts.size(); ++i) {
    const HostLabel& host = chosen->hosts[i];
    const auto& refused = chosen->refused[i];
    results.push_back(refused ? unrun_result(host, *refused)
                              : capture.host_result(runs[i], host, stopped));
    ends.push_back(refused ? unrun_end(host, *refused) : capture.host_end(runs[i], host, stopped));
  }
  return {fleet_result(std::move(results), std::move(ends), fleet_output_bound(options))};
}

}  // namespace sorvane::mcp
