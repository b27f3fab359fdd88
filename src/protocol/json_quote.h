// JSON string literals as the tool writes them, in the request it sends and
// in the JSON it prints: \" \\ \b \t \n \f \r, the other controls as \u00xx,
// everything else raw ('/' and non-ASCII included).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace sorvane {

// The bytes that a string cannot hold as they are: a quote, a backslash and
// the controls.
inline constexpr std::array<bool, 256> NEEDS_ESCAPE = [] {
  std::array<bool, 256> table{};
  for (unsigned char c = 0; c < 0x20; ++c) table[c] = true;
  table['"'] = true;
  table['\\'] = true;
  return table;
}();

// The length of the literal, quotes included, without building it.
std::size_t json_string_length(std::string_view utf8);

// Appends the literal, quotes included.
void append_json_string(std::string& out, std::string_view utf8);

// The same literal as a string of its own.
std::string json_quote(std::string_view utf8);

}  // namespace sorvane
