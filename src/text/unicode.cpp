#include "text/unicode.h"

#include <algorithm>
#include <vector>

#include "text/unicode_tables.h"
#include "text/utf8.h"

namespace sorvane::text {
namespace {

constexpr char32_t CAPITAL_SIGMA = 0x03A3;
constexpr char32_t SMALL_SIGMA = 0x03C3;
constexpr char32_t FINAL_SIGMA = 0x03C2;
constexpr std::string_view EMOJI_PRESENTATION_SELECTOR = "\xEF\xB8\x8F";  // U+FE0F

// The entry of a sorted, non-overlapping range table that holds `c`, if any.
template <class Entry>
const Entry* find_range(std::span<const Entry> table, char32_t c) {
  auto it = std::upper_bound(table.begin(), table.end(), c,
                             [](char32_t value, const Entry& e) { return value < e.first; });
  if (it == table.begin()) return nullptr;
  --it;
  return c <= it->last ? &*it : nullptr;
}

bool in_table(std::span<const tables::Range> table, char32_t c) {
  return find_range(table, c) != nullptr;
}

std::size_t char_width(char32_t c) {
  if (c < 0x300) return 1;  // nothing below the combining marks is wide or zero
  const tables::WidthRange* range = find_range(tables::WIDTHS, c);
  return range != nullptr ? range->width : 1;
}

std::vector<char32_t> decode_lossy(std::string_view utf8) {
  std::vector<char32_t> out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const DecodedChar d = decode_utf8_char(utf8.substr(i));
    out.push_back(d.code_point);
    i += d.length;
  }
  return out;
}

// Whether the first character in [begin, end) that is not case-ignorable is
// cased. Case-ignorable is tested first (it matters for the few characters
// that are both), as ICU, Rust and Python do: the pipe name hashes the
// lower-cased path, so we must agree with the desktop application's runtime.
template <class It>
bool cased_after_ignorables(It begin, It end) {
  for (It it = begin; it != end; ++it) {
    if (in_table(tables::CASE_IGNORABLE, *it)) continue;
    return in_table(tables::CASED, *it);
  }
  return false;
}

// Final_Sigma: a cased letter before (skipping case-ignorables), none after.
bool is_final_sigma(const std::vector<char32_t>& text, std::size_t at) {
  const auto offset = static_cast<std::ptrdiff_t>(at);
  // rend() - at is the character just before `at`, walking backwards.
  return cased_after_ignorables(text.rend() - offset, text.rend()) &&
         !cased_after_ignorables(text.begin() + offset + 1, text.end());
}

void append_lower(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c));
    return;
  }
  auto expansion = std::lower_bound(
      tables::LOWER_EXPANSIONS.begin(), tables::LOWER_EXPANSIONS.end(), c,
      [](const tables::LowerExpansion& e, char32_t value) { return e.code_point < value; });
  if (expansion != tables::LOWER_EXPANSIONS.end() && expansion->code_point == c) {
    for (char32_t part : expansion->lower) {
      if (part != 0) append_utf8(out, part);
    }
    return;
  }
  const tables::LowerRun* run = find_range(tables::LOWER_RUNS, c);
  if (run != nullptr && (c - run->first) % run->stride == 0) {
    c = static_cast<char32_t>(static_cast<std::int32_t>(c) + run->delta);
  }
  append_utf8(out, c);
}

// Where the last character of `utf8` starts, when it is a valid one.
std::optional<std::size_t> last_char_start(std::string_view utf8) {
  const std::size_t size = utf8.size();
  for (std::size_t back = 1; back <= 4 && back <= size; ++back) {
    const auto byte = static_cast<unsigned char>(utf8[size - back]);
    if ((byte & 0xC0) == 0x80) continue;  // continuation: keep looking
    const DecodedChar d = decode_utf8_char(utf8.substr(size - back));
    if (d.valid && d.length == back) return size - back;
    return std::nullopt;
  }
  return std::nullopt;
}

std::string_view trim_leading(std::string_view utf8) {
  while (!utf8.empty()) {
    const DecodedChar d = decode_utf8_char(utf8);
    if (!d.valid || !is_white_space(d.code_point)) break;
    utf8.remove_prefix(d.length);
  }
  return utf8;
}

}  // namespace

bool is_white_space(char32_t code_point) { return in_table(tables::WHITE_SPACE, code_point); }

bool is_format_or_separator(char32_t code_point) {
  return in_table(tables::FORMAT_OR_SEPARATOR, code_point);
}

std::size_t display_width(std::string_view utf8) {
  std::size_t width = 0;
  std::size_t i = 0;
  const std::size_t size = utf8.size();
  while (i < size) {
    // ASCII is one column, unless a selector follows that makes it an emoji ("#️").
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x80 && (i + 1 == size || static_cast<unsigned char>(utf8[i + 1]) < 0x80)) {
      ++width;
      ++i;
      continue;
    }
    const DecodedChar d = decode_utf8_char(utf8.substr(i));
    i += d.length;
    if (utf8.substr(i).starts_with(EMOJI_PRESENTATION_SELECTOR) &&
        in_table(tables::EMOJI_STYLE_BASE, d.code_point)) {
      width += 2;
      i += EMOJI_PRESENTATION_SELECTOR.size();
      continue;
    }
    width += char_width(d.code_point);
  }
  return width;
}

std::string to_lower_full(std::string_view utf8) {
  const std::vector<char32_t> text = decode_lossy(utf8);
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == CAPITAL_SIGMA) {
      append_utf8(out, is_final_sigma(text, i) ? FINAL_SIGMA : SMALL_SIGMA);
    } else {
      append_lower(out, text[i]);
    }
  }
  return out;
}

std::string_view trim_white_space(std::string_view utf8) {
  return trim_trailing_white_space(trim_leading(utf8));
}

std::string_view trim_trailing_white_space(std::string_view utf8) {
  while (!utf8.empty()) {
    const std::optional<std::size_t> start = last_char_start(utf8);
    if (!start) break;
    if (!is_white_space(decode_utf8_char(utf8.substr(*start)).code_point)) break;
    utf8 = utf8.substr(0, *start);
  }
  return utf8;
}

}  // namespace sorvane::text
