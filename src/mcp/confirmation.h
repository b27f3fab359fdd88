// Asking the user before a call runs (--confirm): the elicitation/create
// parameters that say what would happen where, and the one answer that lets
// the call go on.
#pragma once

#include <span>

#include <nlohmann/json.hpp>

#include "protocol/reply.h"
#include "protocol/request.h"

namespace sorvane::mcp {

using Json = nlohmann::ordered_json;

// The message names every host (name and user@host:port) and the command,
// or both paths; the form asks for one boolean, `confirm`.
Json confirmation_question(std::span<const HostInfo> hosts, const Request& request);

// Only "accept" with `confirm` true.
bool confirmed(const Json& answer);

}  // namespace sorvane::mcp
