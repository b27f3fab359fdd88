#include "session/hosts.h"

#include <algorithm>
#include <map>
#include <set>
#include <variant>

#include "base/deadline.h"
#include "base/duration.h"
#include "ipc/connection.h"
#include "text/unicode.h"
#include "text/utf8.h"

namespace sorvane {
namespace {

constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

// Adds `id` (white space around it dropped) unless it is empty or already there.
void add_once(std::vector<std::string>& ids, std::set<std::string>& seen, std::string_view id) {
  id = text::trim_white_space(id);
  if (!id.empty() && seen.emplace(id).second) ids.emplace_back(id);
}

// How a host's label is chosen, from the most readable: its name, its name
// with its ID ("web (a1b2)"), or its ID alone.
enum class LabelStep { Name, NameAndId, Id };

std::string label_at(const HostLabel& host, LabelStep step) {
  if (step == LabelStep::Name) return *host.name;
  if (step == LabelStep::NameAndId) return *host.name + " (" + host.id + ")";
  return host.id;
}

// Each host's lines carry its name. Where another chosen host has the same
// name, both carry their IDs; where a label would still read like another
// host's label or ID (a host named after another's ID), it shows the name
// with the ID, and failing that the ID. IDs are unique among the chosen
// hosts, so this ends with no two hosts looking alike.
void label_hosts(std::vector<HostLabel>& hosts) {
  std::map<std::string, int> uses;
  for (const HostLabel& host : hosts) {
    if (host.name) ++uses[*host.name];
  }
  std::vector<LabelStep> steps;
  steps.reserve(hosts.size());
  for (HostLabel& host : hosts) {
    const bool own_name = host.name && !host.name->empty() && uses[*host.name] == 1;
    steps.push_back(own_name ? LabelStep::Name : LabelStep::Id);
    host.label = label_at(host, steps.back());
  }
  // Each round moves at least one label a step on, or ends.
  for (bool changed = true; changed;) {
    changed = false;
    std::map<std::string, int> seen;
    for (const HostLabel& host : hosts) {
      ++seen[host.label];
      if (host.label != host.id) ++seen[host.id];
    }
    for (std::size_t i = 0; i < hosts.size(); ++i) {
      if (steps[i] == LabelStep::Id || seen[hosts[i].label] == 1) continue;
      steps[i] = steps[i] == LabelStep::Name ? LabelStep::NameAndId : LabelStep::Id;
      hosts[i].label = label_at(hosts[i], steps[i]);
      changed = true;
    }
  }
}

ToolError nothing_chosen(const HostChoice& choice) {
  if (choice.query) {
    return {ErrorCode::HostNotFound, "没有与查询「" + *choice.query + "」匹配的主机"};
  }
  return {ErrorCode::BadRequest, "没有给出主机 ID"};
}

// An empty query would choose every host: as easy to type by mistake as an
// empty ID list, and refused like it.
std::optional<ToolError> nothing_asked(const HostChoice& choice) {
  if (choice.query && text::trim_white_space(*choice.query).empty()) {
    return ToolError{ErrorCode::BadRequest, "查询不能为空"};
  }
  if (!choice.query && choice.ids.empty()) return nothing_chosen(choice);
  return std::nullopt;
}

std::vector<HostLabel> found_by_query(std::vector<HostInfo>& listed) {
  std::vector<HostLabel> chosen;
  std::set<std::string> seen;
  for (HostInfo& host : listed) {
    if (seen.insert(host.id).second) chosen.push_back({host.id, std::move(host.name), {}});
  }
  return chosen;
}

std::vector<HostLabel> named(const std::vector<std::string>& ids,
                             const std::vector<HostInfo>& listed) {
  std::vector<HostLabel> chosen;
  for (const std::string& id : ids) {
    const auto known = std::find_if(listed.begin(), listed.end(),
                                    [&id](const HostInfo& host) { return host.id == id; });
    std::optional<std::string> name;
    if (known != listed.end()) name = known->name;
    chosen.push_back({id, std::move(name), {}});
  }
  return chosen;
}

}  // namespace

HostList hosts_of(FinalReply reply) {
  if (!reply) return fail(std::move(reply).error());
  if (auto* hosts = std::get_if<Reply::Hosts>(&reply->value)) return std::move(hosts->hosts);
  if (auto* error = std::get_if<Reply::Error>(&reply->value)) {
    return fail(ToolError{error->code, std::move(error->message)});
  }
  return fail(connection_broken("unexpected reply to list"));
}

HostList list_hosts(ByteReader& from_peer, ByteWriter& to_peer,
                    const std::optional<std::string>& query) {
  ConversationEvents passed_over;  // a list has none that matter
  return hosts_of(converse(from_peer, to_peer, Request{Request::List{query}}, passed_over));
}

HostList list_hosts(std::string_view endpoint_name, const std::optional<std::string>& query,
                    std::chrono::milliseconds limit) {
  const Deadline deadline = Deadline::after(limit);
  const auto timed_out = [limit] {
    return ToolError{ErrorCode::ConnectFailed,
                     "timed out after " + format_duration(limit) + " while listing the hosts"};
  };
  auto connection = connect(endpoint_name, deadline);
  if (!connection && deadline.expired()) return fail(timed_out());
  if (!connection) return fail(to_tool_error(connection.error()));
  auto listed = list_hosts(*connection, *connection, query);
  if (!listed && deadline.expired()) return fail(timed_out());
  return listed;
}

std::vector<std::string> split_ids(std::string_view list) {
  std::vector<std::string> ids;
  std::set<std::string> seen;
  for (std::size_t at = 0; at <= list.size();) {
    const std::size_t comma = std::min(list.find(',', at), list.size());
    add_once(ids, seen, list.substr(at, comma - at));
    at = comma + 1;
  }
  return ids;
}

Result<std::vector<std::string>, ToolError> hosts_file_ids(std::string_view text) {
  if (!text::is_valid_utf8(text)) {
    return fail(ToolError{ErrorCode::BadRequest, "主机列表文件不是 UTF-8 文本"});
  }
  if (text.starts_with(BYTE_ORDER_MARK)) text.remove_prefix(BYTE_ORDER_MARK.size());
  std::vector<std::string> ids;
  std::set<std::string> seen;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = text.substr(at, end - at);
    add_once(ids, seen, line.substr(0, line.find('#')));  // CR is white space
    at = end + 1;
  }
  return ids;
}

Result<std::vector<HostLabel>, ToolError> choose_hosts(const HostChoice& choice,
                                                       const HostLister& list_hosts) {
  if (auto refused = nothing_asked(choice)) return fail(std::move(*refused));
  auto listed = list_hosts(choice.query);
  if (!listed && choice.query) return fail(std::move(listed).error());
  if (!listed) listed = std::vector<HostInfo>{};
  std::vector<HostLabel> chosen =
      choice.query ? found_by_query(*listed) : named(choice.ids, *listed);
  if (chosen.empty()) return fail(nothing_chosen(choice));
  label_hosts(chosen);
  return chosen;
}

}  // namespace sorvane
