#include "output/prefixed_lines.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

// Feeds `text` in pieces of `piece` bytes, then finishes.
std::string prefixed(std::string_view text, std::size_t piece, std::size_t longest = 64) {
  PrefixedLines lines("h: ", longest);
  std::string ready;
  for (std::size_t at = 0; at < text.size(); at += piece) {
    lines.add(as_bytes(text.substr(at, piece)), ready);
  }
  lines.finish(ready);
  return ready;
}

TEST(PrefixedLines, WholeLinesWhateverTheChunks) {
  struct Case {
    std::string input;
    std::string expected;
  };
  const std::string long_line(150, 'x');
  // 62 ASCII bytes and a three-byte character across the cut at 64.
  const std::string split_char = std::string(62, 'a') + "中b";
  const Case cases[] = {
      {"", ""},
      {"one\ntwo\n", "h: one\nh: two\n"},
      {"no end", "h: no end\n"},
      {"\n\nx", "h: \nh: \nh: x\n"},
      {"crlf\r\n", "h: crlf\r\n"},
      {long_line + "\n", "h: " + long_line.substr(0, 64) + "\nh: " + long_line.substr(64, 64) +
                             "\nh: " + long_line.substr(128) + "\n"},
      {split_char, "h: " + std::string(62, 'a') + "\nh: 中b\n"},
  };
  for (const auto& c : cases) {
    for (std::size_t piece = 1; piece <= c.input.size() + 1; ++piece) {
      EXPECT_EQ(prefixed(c.input, piece), c.expected) << "piece " << piece;
    }
  }
}

TEST(PrefixedLines, HoldsOnlyTheUnfinishedLine) {
  PrefixedLines lines("h: ", 8);
  std::string ready;
  lines.add(as_bytes("abc"), ready);
  EXPECT_EQ(ready, "");
  lines.add(as_bytes("d\nef"), ready);
  EXPECT_EQ(ready, "h: abcd\n");
  ready.clear();
  lines.add(as_bytes("ghijklmnop"), ready);  // "efghijklmnop": one piece out, four held
  EXPECT_EQ(ready, "h: efghijkl\n");
  ready.clear();
  lines.finish(ready);
  EXPECT_EQ(ready, "h: mnop\n");
  ready.clear();
  lines.finish(ready);
  EXPECT_EQ(ready, "");
}

TEST(HostPrefix, ControlCharactersCannotMoveTheCursor) {
  EXPECT_EQ(host_prefix("web-1", 0, false), "web-1: ");
  EXPECT_EQ(host_prefix("a\nb\x1b[2J\xc2\x9b", 0, false), "a\\x0ab\\x1b[2J\\u009b: ");
  EXPECT_EQ(host_prefix("db", 1, true), "\x1b[33mdb:\x1b[0m ");
  EXPECT_EQ(host_prefix("db", 7, true), host_prefix("db", 1, true));
}

}  // namespace
}  // namespace sorvane
