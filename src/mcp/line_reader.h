// Standard input as lines: one JSON-RPC message per line. A line longer
// than the limit is reported once and skipped whole, so nothing in it is
// ever read as a message; the memory held stays near the limit.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/io.h"

namespace sorvane::mcp {

inline constexpr std::size_t MAX_LINE_LENGTH = std::size_t{16} * 1024 * 1024;

struct Line {
  std::string text;       // without the line feed and a carriage return before it
  bool too_long = false;  // text is empty; the rest of the line is skipped
};

// `line` with each piece of text that cannot be decoded (a \\u escape of a
// lone surrogate, bytes that are not UTF-8) replaced by `escape`, the JSON
// escape of one character. A line that failed to parse only for such text
// parses afterwards; two different escapes show where the text stood.
std::string with_undecodable_replaced(std::string_view line, std::string_view escape);

class LineReader {
 public:
  explicit LineReader(ByteReader& input, std::size_t max_length = MAX_LINE_LENGTH);

  // The next line; nothing at the end of the input. A last line without a
  // line feed counts as a line.
  IoResult<std::optional<Line>> next();

 private:
  ByteReader& input_;
  std::size_t max_length_;
  std::vector<std::uint8_t> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::string line_;
  bool skipping_ = false;  // inside a line already reported as too long
};

}  // namespace sorvane::mcp
