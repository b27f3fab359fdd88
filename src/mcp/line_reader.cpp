#include "mcp/line_reader.h"

#include <algorithm>

namespace sorvane::mcp {
namespace {

constexpr std::size_t READ_SIZE = std::size_t{64} * 1024;

Line too_long() { return Line{{}, true}; }

}  // namespace

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
