#include "protocol/json_quote.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace sorvane {
namespace {

constexpr std::string_view NAMED = "\"\"\\\\\bb\ff\nn\rr\tt";  // byte, letter
constexpr std::size_t NAMED_ESCAPE_LEN = 2;                    // \n
constexpr std::size_t NUMBERED_ESCAPE_LEN = 6;                 // \u001b

void append_escape(std::string& out, unsigned char c) {
  static constexpr char HEX[] = "0123456789abcdef";
  const std::size_t named = NAMED.find(static_cast<char>(c));
  const char escaped[] = {'\\', 'u', '0', '0', HEX[c >> 4], HEX[c & 0x0F]};
  if (named == std::string_view::npos) {
    out.append(escaped, sizeof escaped);
  } else {
    out.append({'\\', NAMED[named + 1]});
  }
}

}  // namespace

std::size_t json_string_length(std::string_view utf8) {
  std::size_t length = utf8.size() + 2;
  for (const char c : utf8) {
    if (!NEEDS_ESCAPE[static_cast<unsigned char>(c)]) continue;
    const bool named = NAMED.find(c) != std::string_view::npos;
    length += (named ? NAMED_ESCAPE_LEN : NUMBERED_ESCAPE_LEN) - 1;
  }
  return length;
}

void append_json_string(std::string& out, std::string_view utf8) {
  const auto* const first_escape = std::find_if(
      utf8.begin(), utf8.end(), [](char c) { return NEEDS_ESCAPE[static_cast<unsigned char>(c)]; });
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
    if (!NEEDS_ESCAPE[c]) continue;
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
