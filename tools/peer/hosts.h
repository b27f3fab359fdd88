// The demo's saved hosts: read from a JSON file, matched by a query.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "wire.h"

namespace sorvane::peer {

// A JSON array of host objects with the members of a hosts reply
// (id, name, group, user, host, port, os). Checked so that the peer never
// sends a list that the tool must refuse.
Result<Json, std::string> parse_hosts(std::string_view text);

// The hosts whose name, host, user, group or ID contains the query,
// ignoring case; every host when there is no query. File order is kept.
Json filter_hosts(const Json& hosts, const std::optional<std::string>& query);

// `count` made-up hosts with distinct IDs, for benchmarks.
Json generate_hosts(std::uint64_t count);

const Json* find_host(const Json& hosts, std::string_view id);

Json hosts_reply(Json hosts);

}  // namespace sorvane::peer
