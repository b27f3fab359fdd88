#include "protocol/json_quote.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace sorvane {
namespace {

constexpr std::array<bool, 256> NEEDS_ESCAPE = [] {
  std::array<bool, 256> table{};
  for (unsigned char c = 0; c < 0x20; ++c) table[c] = true;
  table['"'] = true;
  table['\\'] = true;
  return table;
}();

bool needs_escape(unsigned char c) { return NEEDS_ESCAPE[c]; }

void append_escape(std::string& out, unsigned char c) {
  switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\b':
      out += "\\b";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\f':
      out += "\\f";
      break;
    case '\r':
      out += "\\r";
      break;
    default: {
      static constexpr char HEX[] = "0123456789abcdef";
      const char escaped[] = {'\\', 'u', '0', '0', HEX[c >> 4], HEX[c & 0x0F]};
      out.append(escaped, sizeof escaped);
    }
  }
}

}  // namespace

void append_json_string(std::string& out, std::string_view utf8) {
  const auto* const first_escape = std::find_if(
      utf8.begin(), utf8.end(), [](char c) { return needs_escape(static_cast<unsigned char>(c)); });
  // The usual string, short and plain, goes out with its quotes in one append.
  constexpr std::size_t SHORT = 64;
  if (first_escape == utf8.end() && utf8.size() <= SHORT) {
    std::array<char, SHORT + 2> quoted{};
    quoted[0] = '"';
    std::memcpy(quoted.data() + 1, utf8.data(), utf8.size());
    quoted[utf8.size() + 1] = '"';
    out.append(quoted.data(), utf8.size() + 2);
    return;
  }
  out += '"';
  // Runs of bytes that go out raw ('/' and every non-ASCII byte among them)
  // are copied whole.
  std::size_t raw_from = 0;
  for (auto i = static_cast<std::size_t>(first_escape - utf8.begin()); i < utf8.size(); ++i) {
    auto c = static_cast<unsigned char>(utf8[i]);
    if (!needs_escape(c)) continue;
    out.append(utf8.data() + raw_from, i - raw_from);
    append_escape(out, c);
    raw_from = i + 1;
  }
  out.append(utf8.data() + raw_from, utf8.size() - raw_from);
  out += '"';
}

std::string json_quote(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  append_json_string(out, utf8);
  return out;
}

}  // namespace sorvane
