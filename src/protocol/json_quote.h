// JSON string literals as the tool writes them, in the request it sends and
// in the JSON it prints: \" \\ \b \t \n \f \r, the other controls as \u00xx,
// everything else raw ('/' and non-ASCII included).
#pragma once

#include <string>
#include <string_view>

namespace sorvane {

// Appends the literal, quotes included.
void append_json_string(std::string& out, std::string_view utf8);

// The same literal as a string of its own.
std::string json_quote(std::string_view utf8);

}  // namespace sorvane
