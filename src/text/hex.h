// Bytes as lower-case hex digits, and back: for names derived from digests,
// and for sealed values that travel through a client as text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/io.h"

namespace sorvane {

std::string lower_hex(ByteSpan bytes);

// Nothing for an odd length or a character that is not a hex digit.
std::optional<std::vector<std::uint8_t>> from_hex(std::string_view text);

}  // namespace sorvane
