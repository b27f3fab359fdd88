// Which hosts a fleet runs on: IDs given in a list or a file, or the hosts a
// query finds; and the one conversation that asks the desktop application
// for its host list, which every front end uses.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/io.h"
#include "base/result.h"
#include "protocol/error_code.h"
#include "protocol/reply.h"
#include "session/conversation.h"
#include "session/fleet.h"

namespace sorvane {

using HostList = Result<std::vector<HostInfo>, ToolError>;

// The final reply to a list request as the hosts, or as the error line.
HostList hosts_of(FinalReply reply);

// The hosts (those `query` finds; all without one) over an open stream.
HostList list_hosts(ByteReader& from_peer, ByteWriter& to_peer,
                    const std::optional<std::string>& query);

// The same, connecting to `endpoint_name` first; connecting, asking and
// reading all end `limit` from now ("timed out after 1s while listing the
// hosts"): a desktop application that stalls on the list holds nothing up.
HostList list_hosts(std::string_view endpoint_name, const std::optional<std::string>& query,
                    std::chrono::milliseconds limit);

// The hosts that `list` shows for a query (nothing: all of them).
using HostLister = std::function<HostList(const std::optional<std::string>&)>;

// The items of "a, b,,c", each once, in order.
std::vector<std::string> split_ids(std::string_view list);

// The most of a hosts file that is read (1 MiB, some 60000 IDs): a file that
// goes on, such as a device, is refused there instead of filling memory.
inline constexpr std::size_t HOSTS_FILE_LIMIT = std::size_t{1} << 20;

// The IDs of a hosts file: one per line, each once, in order; blank lines
// and `#` comments (whole lines, or after an ID) skipped, a byte-order mark
// and CR LF tolerated. Text that is not UTF-8 is refused (bad_request).
Result<std::vector<std::string>, ToolError> hosts_file_ids(std::string_view text);

// What the user asked for: IDs (from a list or a file), or a query.
struct HostChoice {
  std::vector<std::string> ids;
  std::optional<std::string> query;
};

// The chosen hosts, in order: those the query finds, in the order `list`
// shows them, or the IDs with their names where the desktop application
// knows them. When it cannot say, the IDs are run all the same, without
// names: naming the hosts is no reason to stop a run that names them itself.
// An empty choice, or an empty query, is an error. Each host's label is its
// name, or its ID where it has none or shares it with another chosen host;
// no label reads like another chosen host's label or ID.
Result<std::vector<HostLabel>, ToolError> choose_hosts(const HostChoice& choice,
                                                       const HostLister& list_hosts);

}  // namespace sorvane
