// The reply rules once more, on nlohmann/json's tree: slow and plain, kept
// as an oracle that the tool's own decoder is fuzzed against.
#pragma once

#include <optional>
#include <string_view>

#include "protocol/reply.h"

namespace sorvane::reference {

// The reply, or nothing when the payload is to be refused.
std::optional<Reply> decode_reply(std::string_view payload);

}  // namespace sorvane::reference
