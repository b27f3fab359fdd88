// Whether the tool colours what it writes on a stream: the one decision for
// every front end.
#pragma once

#include <optional>
#include <string_view>

#include "output/console_sink.h"
#include "platform/std_streams.h"

namespace sorvane {

// Ends a coloured text: back to the terminal's own colours.
inline constexpr std::string_view COLOUR_RESET = "\x1b[0m";

// Colour only on a terminal, and not when NO_COLOR is set to anything, nor
// when TERM says the terminal is "dumb" (one that shows escapes as text).
bool colour_wanted(bool is_terminal, std::optional<std::string_view> no_color,
                   std::optional<std::string_view> term);

// The decision for `sink` from the process's environment; on a terminal
// that needs it (a Windows console) colour is switched on too.
bool colour_on(const ConsoleSink& sink, StdStream stream);

}  // namespace sorvane
