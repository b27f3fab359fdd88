// Replies as the desktop application writes them: compact JSON in Json frames.
#pragma once

#include <nlohmann/json.hpp>
#include <string_view>

#include "base/io.h"
#include "protocol/error_code.h"

namespace sorvane::peer {

// Keeps members in the order they were written, as a person reading the
// frames would expect.
using Json = nlohmann::ordered_json;

// Compact UTF-8; ill-formed bytes (file names, say) become U+FFFD.
std::string encode_json(const Json& value);

IoResult<void> send_json(ByteWriter& writer, const Json& reply);

Json error_reply(ErrorCode code, std::string_view message);

}  // namespace sorvane::peer
