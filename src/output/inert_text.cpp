#include "output/inert_text.h"

#include <cstdint>

#include "text/unicode.h"
#include "text/utf8.h"

namespace sorvane {
namespace {

constexpr std::string_view HEX_DIGITS = "0123456789abcdef";
constexpr char32_t LAST_C0 = 0x1F;
constexpr char32_t DELETE = 0x7F;
constexpr char32_t LAST_C1 = 0x9F;
constexpr char32_t LAST_BMP = 0xFFFF;
// Longer runs of white space show as their length where asked.
constexpr std::size_t LONGEST_BLANK_RUN = 8;

bool acts_on_terminal(char32_t c) {
  return c <= LAST_C0 || (c >= DELETE && c <= LAST_C1) || text::is_format_or_separator(c);
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
  } else if (c <= LAST_BMP) {
    shown += "\\u";
    append_hex(shown, c, 4);
  } else {
    shown += "\\U";
    append_hex(shown, c, 8);
  }
}

// Whether what `rest` starts with shows as a backslash, an x, a u or a U:
// after a lone backslash, that would read as an escape.
bool shows_as_escape_tail(std::string_view rest) {
  if (rest.empty()) return false;
  if (rest.front() == '\\' || rest.front() == 'x' || rest.front() == 'u' || rest.front() == 'U')
    return true;
  const text::DecodedChar next = text::decode_utf8_char(rest);
  return !next.valid || acts_on_terminal(next.code_point);
}

// The first character of `outside`, shown; returns its length.
std::size_t append_first_inert(std::string& shown, std::string_view outside) {
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
  return c.length;
}

struct BlankRun {
  std::size_t bytes = 0;
  std::size_t characters = 0;
  bool spaces = true;
  bool tabs = true;
};

BlankRun blank_run_at(std::string_view text) {
  BlankRun run;
  while (run.bytes < text.size()) {
    const text::DecodedChar c = text::decode_utf8_char(text.substr(run.bytes));
    if (!c.valid || !text::is_white_space(c.code_point)) break;
    run.bytes += c.length;
    ++run.characters;
    run.spaces = run.spaces && c.code_point == ' ';
    run.tabs = run.tabs && c.code_point == '\t';
  }
  return run;
}

void append_run_length(std::string& shown, const BlankRun& run) {
  const char* what = run.spaces ? " spaces]" : run.tabs ? " tabs]" : " white-space characters]";
  shown.append("[").append(std::to_string(run.characters)).append(what);
}

}  // namespace

void append_inert(std::string& shown, std::string_view outside) {
  while (!outside.empty()) outside.remove_prefix(append_first_inert(shown, outside));
}

std::string inert(std::string_view outside) {
  std::string shown;
  append_inert(shown, outside);
  return shown;
}

std::string inert_counting_blank_runs(std::string_view outside) {
  std::string shown;
  while (!outside.empty()) {
    const BlankRun run = blank_run_at(outside);
    if (run.characters > LONGEST_BLANK_RUN) {
      append_run_length(shown, run);
      outside.remove_prefix(run.bytes);
    } else {
      outside.remove_prefix(append_first_inert(shown, outside));
    }
  }
  return shown;
}

std::string inert_error_line(const ToolError& error) {
  return format_error_line(ToolError{error.code, inert(error.message)});
}

}  // namespace sorvane
