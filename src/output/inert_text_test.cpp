#include "output/inert_text.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

#include "output/inert_text_checks_for_tests.h"

namespace sorvane {
namespace {

TEST(Inert, EscapesWhatActsOnATerminalAndNothingElse) {
  struct Case {
    std::string_view outside;
    std::string_view shown;
  };
  const Case cases[] = {
      {"web-1 生产\tdb", "web-1 生产\tdb"},
      {"\x1b]52;c;aGk=\a\x1b[2J", "\\x1b]52;c;aGk=\\x07\\x1b[2J"},
      {"a\r\nb\x7f", "a\\x0d\\x0ab\\x7f"},
      {"\xc2\x9b"
       "2J \xc2\x9d"
       "0;t\xc2\x9c",
       "\\u009b2J \\u009d0;t\\u009c"},
      {"abc\xe2\x80\xae"
       "fdp.exe\xe2\x81\xa9",
       "abc\\u202efdp.exe\\u2069"},
      {"\xff\xe4\xb8"
       "A\xed\xa0\x80",
       "\\xff\\xe4\\xb8A\\xed\\xa0\\x80"},
      // A backslash stays single unless it would read as an escape.
      {"C:\\Program Files\\app", "C:\\Program Files\\app"},
      {"\\x1b \\u202e \\\\ \\\x1b", "\\\\x1b \\\\u202e \\\\\\ \\\\\\x1b"},
  };
  for (const auto& c : cases) EXPECT_EQ(inert(c.outside), c.shown) << c.outside;
}

TEST(Inert, ErrorLineKeepsItsFrameAndEscapesTheMessage) {
  EXPECT_EQ(inert_error_line({ErrorCode::HostNotFound, "no \x1b[2Jhost"}),
            "sorvane: [host_not_found] no \\x1b[2Jhost\n");
}

// Texts built from the pieces most likely to confuse the escapes: controls,
// backslashes, the letters after them, hex digits, C1 and bidi controls and
// every kind of ill-formed UTF-8.
TEST(Inert, AnyTextIsSafeAndReadsBackAsItCame) {
  constexpr std::array<std::string_view, 19> PIECES = {"\x1b",
                                                       "\\",
                                                       "x",
                                                       "u",
                                                       "1b",
                                                       "202e",
                                                       "\xc2\x9b",
                                                       "\xc2",
                                                       "\x9d",
                                                       "\xe2\x80\xae",
                                                       "\xe2\x81\xa6",
                                                       "\xe2\x80",
                                                       "\xff",
                                                       "\xed\xa0\x80",
                                                       "中",
                                                       "a",
                                                       "\t",
                                                       "\n",
                                                       "\x7f"};
  std::mt19937 random(22);  // fixed: the same texts every run
  std::uniform_int_distribution<std::size_t> piece(0, PIECES.size() - 1);
  std::uniform_int_distribution<int> count(0, 10);
  for (int round = 0; round < 20000; ++round) {
    std::string outside;
    for (int n = count(random); n > 0; --n) outside += PIECES[piece(random)];
    ASSERT_EQ(inert_promise_broken(outside), "") << testing::PrintToString(outside);
  }
}

}  // namespace
}  // namespace sorvane
