// Durations as people write them on a command line and read them in
// messages: "30s", "5m", "1h", "500ms".
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace sorvane {

// "30s", "5m", "1h", "500ms"; a bare number counts seconds. Nothing for
// zero, other units or more than a year.
std::optional<std::chrono::milliseconds> parse_duration(std::string_view text);

// The duration in its largest whole unit ("90s", "2m", "1500ms"), which
// parse_duration reads back.
std::string format_duration(std::chrono::milliseconds duration);

}  // namespace sorvane
