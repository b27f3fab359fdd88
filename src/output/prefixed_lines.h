// One host's remote output among many: whole lines only, each behind the
// host's prefix, so that lines of different hosts never mix. Only the
// unfinished last line is held.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/io.h"

namespace sorvane {

// A line that grows past this without a line feed is let out in pieces of
// at most this size, each ended as a line, so a host that never ends its
// line cannot make the tool hold all of it.
inline constexpr std::size_t LONGEST_HELD_LINE = std::size_t{64} * 1024;

class PrefixedLines {
 public:
  explicit PrefixedLines(std::string prefix, std::size_t longest = LONGEST_HELD_LINE);

  // Appends to `ready` every line that `chunk` completes, prefixed; keeps
  // the rest until more comes.
  void add(ByteSpan chunk, std::string& ready);

  // The held partial line, prefixed and ended with a line feed; nothing
  // when there is none.
  void finish(std::string& ready);

  const std::string& prefix() const { return prefix_; }

 private:
  void emit(std::string_view line, std::string& ready);
  // Lets out the pieces of `line` while more than `longest_` of it is
  // left; returns how much was let out.
  std::size_t emit_long_pieces(std::string_view line, std::string& ready);

  std::string prefix_;
  std::size_t longest_;
  std::string partial_;
};

// "name: " for a host, in one of a few colours when `colour` is set, so
// that hosts can be told apart at a glance. `index` picks the colour.
std::string host_prefix(std::string_view name, std::size_t index, bool colour);

}  // namespace sorvane
