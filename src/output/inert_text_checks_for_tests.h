// What every text made inert must hold, for the unit tests and the fuzz
// target alike: nothing that acts on a terminal is left, and reading the
// escapes back gives exactly the text that came in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "output/inert_text.h"
#include "text/utf8.h"

namespace sorvane {

inline std::optional<std::uint32_t> hex_value(std::string_view digits) {
  std::uint32_t value = 0;
  for (char digit : digits) {
    const auto at = std::string_view("0123456789abcdef").find(digit);
    if (at == std::string_view::npos) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(at);
  }
  return value;
}

// The bytes that `shown` came from; nothing when no text shows so.
inline std::optional<std::string> read_back_inert(std::string_view shown) {
  std::string original;
  while (!shown.empty()) {
    const char marker = shown.size() > 1 && shown[0] == '\\' ? shown[1] : '\0';
    const std::size_t digits = marker == 'x' ? 2 : marker == 'u' ? 4 : 0;
    if (marker == '\\') {
      original += '\\';
      shown.remove_prefix(2);
    } else if (digits > 0) {
      if (shown.size() < 2 + digits) return std::nullopt;
      const auto value = hex_value(shown.substr(2, digits));
      if (!value) return std::nullopt;
      if (marker == 'x') {
        original += static_cast<char>(*value);
      } else {
        text::append_utf8(original, *value);
      }
      shown.remove_prefix(2 + digits);
    } else {
      original += shown.front();
      shown.remove_prefix(1);
    }
  }
  return original;
}

// Empty when `outside` made inert holds every promise, else the broken one.
inline std::string inert_promise_broken(std::string_view outside) {
  const std::string shown = inert(outside);
  if (!text::is_valid_utf8(shown)) return "not valid UTF-8";
  for (std::string_view rest = shown; !rest.empty();) {
    const text::DecodedChar decoded = text::decode_utf8_char(rest);
    const char32_t c = decoded.code_point;
    rest.remove_prefix(decoded.length);
    if ((c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F)) return "a control is left";
    if ((c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069))
      return "a bidi control is left";
  }
  if (read_back_inert(shown) != std::string(outside)) return "does not read back as it came";
  return {};
}

}  // namespace sorvane
