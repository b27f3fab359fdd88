// A remote output stream kept in memory up to a limit, for results that
// carry the output as a value (`sorvane --json`, `sorvane-mcp`). Past the
// limit the rest is read and dropped and counted: either all that comes
// after the head, or the middle, keeping the first half and the last half of
// the limit, as a log's end is where its error is. Memory stays at the limit
// however long the stream runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/io.h"

namespace sorvane {

inline constexpr std::uint64_t DEFAULT_MAX_OUTPUT = std::uint64_t{1024} * 1024;

class StreamCapture {
 public:
  enum class Keep { Head, HeadAndTail };

  explicit StreamCapture(std::uint64_t limit, Keep keep = Keep::Head);

  void append(ByteSpan chunk);

  // The bytes kept, as they came (not necessarily UTF-8), head then tail.
  std::string bytes() const;
  // The same as text, invalid UTF-8 repaired; where bytes were dropped
  // between head and tail, each is repaired apart, so that neither borrows
  // a character's bytes from the other.
  std::string text() const;
  std::uint64_t omitted() const { return seen_ - kept(); }
  bool truncated() const { return omitted() > 0; }

 private:
  std::uint64_t kept() const { return head_.size() + tail_.size(); }
  std::string tail_in_order() const;

  std::size_t head_limit_;
  std::size_t tail_limit_;
  std::string head_;
  std::string tail_;        // a ring once full
  std::size_t oldest_ = 0;  // where the next tail byte overwrites, once full
  std::uint64_t seen_ = 0;
};

}  // namespace sorvane
