#include "mcp/line_reader.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "text/utf8.h"

namespace sorvane::mcp {
namespace {

constexpr std::size_t READ_SIZE = std::size_t{64} * 1024;

Line too_long() { return Line{{}, true}; }

// The UTF-16 code unit of the "\\uXXXX" escape at the start of `text`.
std::optional<unsigned> escaped_unit(std::string_view text) {
  if (text.size() < 6 || text[0] != '\\' || text[1] != 'u') return std::nullopt;
  unsigned unit = 0;
  const char* digits = text.data() + 2;
  if (std::from_chars(digits, digits + 4, unit, 16).ptr != digits + 4) return std::nullopt;
  return unit;
}

bool is_high_surrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::string with_undecodable_replaced(std::string_view line, std::string_view escape) {
  std::string out;
  out.reserve(line.size());
  while (!line.empty()) {
    std::size_t keep = 0;
    if (line[0] == '\\') {
      const auto unit = escaped_unit(line);
      const auto next = unit ? escaped_unit(line.substr(6)) : std::nullopt;
      if (!unit) {
        keep = std::min<std::size_t>(2, line.size());  // any other escape, "\\\\" too
      } else if (is_high_surrogate(*unit) && next && is_low_surrogate(*next)) {
        keep = 12;
      } else if (!is_high_surrogate(*unit) && !is_low_surrogate(*unit)) {
        keep = 6;
      }
    } else {
      const text::DecodedChar decoded = text::decode_utf8_char(line);
      if (decoded.valid) keep = decoded.length;
    }
    if (keep > 0) {
      out.append(line.substr(0, keep));
      line.remove_prefix(keep);
    } else {  // a lone surrogate's escape, or the bytes of one ill-formed sequence
      out.append(escape);
      line.remove_prefix(line[0] == '\\' ? 6 : text::decode_utf8_char(line).length);
    }
  }
  return out;
}

LineReader::LineReader(ByteReader& input, std::size_t max_length)
    : input_(input), max_length_(max_length), buffer_(READ_SIZE) {}

IoResult<std::optional<Line>> LineReader::next() {
  for (;;) {
    const auto* first = buffer_.data() + begin_;
    const auto* last = buffer_.data() + end_;
    const auto* feed = std::find(first, last, std::uint8_t{'\n'});
    const auto length = static_cast<std::size_t>(feed - first);
    const bool fits = line_.size() + length <= max_length_;
    if (!skipping_ && fits) line_.append(reinterpret_cast<const char*>(first), length);
    begin_ += length;
    if (feed != last) {
      ++begin_;  // the line feed
      const bool was_skipping = std::exchange(skipping_, false);
      if (was_skipping) continue;  // reported when it outgrew the limit
      if (!fits) {
        line_.clear();
        return std::optional<Line>(too_long());
      }
      if (!line_.empty() && line_.back() == '\r') line_.pop_back();
      return std::optional<Line>(Line{std::exchange(line_, {}), false});
    }
    if (!skipping_ && !fits) {
      line_.clear();
      skipping_ = true;
      return std::optional<Line>(too_long());
    }
    auto got = input_.read_some(buffer_);
    if (!got) return fail(std::move(got).error());
    begin_ = 0;
    end_ = *got;
    if (end_ == 0) {
      if (skipping_ || line_.empty()) return std::optional<Line>();
      return std::optional<Line>(Line{std::exchange(line_, {}), false});
    }
  }
}

}  // namespace sorvane::mcp
