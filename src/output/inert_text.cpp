#include "output/inert_text.h"

#include <cstdint>

#include "text/utf8.h"

namespace sorvane {
namespace {

constexpr std::string_view HEX_DIGITS = "0123456789abcdef";

bool is_bidi_control(char32_t c) {
  return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Tab is let through: it moves the cursor, but only forward over blanks.
bool acts_on_terminal(char32_t c) {
  return (c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F) || is_bidi_control(c);
}

void append_hex(std::string& shown, std::uint32_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
    shown += HEX_DIGITS[(value >> shift) & 0xF];
}

void append_byte_escape(std::string& shown, char byte) {
  shown += "\\x";
  append_hex(shown, static_cast<unsigned char>(byte), 2);
}

void append_escape(std::string& shown, char32_t c) {
  if (c < 0x80) {
    append_byte_escape(shown, static_cast<char>(c));
  } else {
    shown += "\\u";
    append_hex(shown, c, 4);
  }
}

// Whether what `rest` starts with shows as a backslash, an x or a u: after
// a lone backslash, that would read as an escape.
bool shows_as_escape_tail(std::string_view rest) {
  if (rest.empty()) return false;
  if (rest.front() == '\\' || rest.front() == 'x' || rest.front() == 'u') return true;
  const text::DecodedChar next = text::decode_utf8_char(rest);
  return !next.valid || acts_on_terminal(next.code_point);
}

}  // namespace

void append_inert(std::string& shown, std::string_view outside) {
  while (!outside.empty()) {
    const text::DecodedChar c = text::decode_utf8_char(outside);
    if (!c.valid) {
      for (char byte : outside.substr(0, c.length)) append_byte_escape(shown, byte);
    } else if (acts_on_terminal(c.code_point)) {
      append_escape(shown, c.code_point);
    } else if (c.code_point == '\\' && shows_as_escape_tail(outside.substr(1))) {
      shown += "\\\\";
    } else {
      shown.append(outside.substr(0, c.length));
    }
    outside.remove_prefix(c.length);
  }
}

std::string inert(std::string_view outside) {
  std::string shown;
  append_inert(shown, outside);
  return shown;
}

std::string inert_error_line(const ToolError& error) {
  return format_error_line(ToolError{error.code, inert(error.message)});
}

}  // namespace sorvane
