#include "output/inert_text.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <random>

#include "text/unicode.h"
#include "text/utf8.h"

namespace sorvane {
namespace {

// The bytes that `shown` came from, read by the documented escapes alone.
std::optional<std::string> read_back(std::string_view shown) {
  std::string original;
  while (!shown.empty()) {
    const char marker = shown.size() > 1 && shown[0] == '\\' ? shown[1] : '\0';
    const std::size_t digits = marker == 'x' ? 2 : marker == 'u' ? 4 : marker == 'U' ? 8 : 0;
    if (marker == '\\' || digits == 0) {
      original += shown[0];
      shown.remove_prefix(marker == '\\' ? 2 : 1);
      continue;
    }
    const std::string hex(shown.substr(2, digits));
    if (hex.size() != digits || hex.find_first_not_of("0123456789abcdef") != std::string::npos)
      return std::nullopt;
    const auto value = static_cast<char32_t>(std::stoul(hex, nullptr, 16));
    if (marker == 'x') {
      original += static_cast<char>(value);
    } else {
      text::append_utf8(original, value);
    }
    shown.remove_prefix(2 + digits);
  }
  return original;
}

// Controls, and what hides or breaks a line (checked against ICU's
// categories in inert_text_icu_test).
bool acts_on_terminal(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || text::is_format_or_separator(c);
}

TEST(Inert, BackslashesAndBrokenBytes) {
  EXPECT_EQ(inert("C:\\Program Files\\app\tx"), "C:\\Program Files\\app\\x09x");
  EXPECT_EQ(inert("\\x1b \\u202e \\U000e0041 \\\\ \\\x1b"),
            "\\\\x1b \\\\u202e \\\\U000e0041 \\\\\\ \\\\\\x1b");
  EXPECT_EQ(inert("\xff\xe4\xb8"
                  "A\xed\xa0\x80\x7f"),
            "\\xff\\xe4\\xb8A\\xed\\xa0\\x80\\x7f");
}

// Texts built from the pieces most likely to confuse the escapes: controls,
// backslashes and the letters after them, hex digits, C1 and bidi controls
// and ill-formed UTF-8. Shown, none acts on a terminal; read back, each is
// the text that came in, so no two texts look the same.
TEST(Inert, AnyTextIsSafeAndReadsBackAsItCame) {
  // NOLINTBEGIN(misc-misleading-bidirectional): hostile on purpose
  // clang-format off
  constexpr std::array<std::string_view, 22> PIECES = {
      "\x1b", "\\", "x", "u", "U", "1b", "202e", "000e0041", "\xc2\x9b", "\xc2", "\x9d",
      "\xe2\x80\xae", "\xe2\x81\xa6", "\xe2\x80", "\xff", "\xed\xa0\x80", "中", "\t", "\n",
      "\xe2\x80\xa8", "\xf3\xa0\x81\x81", "\xe2\x80\x8b"};
  // clang-format on
  // NOLINTEND(misc-misleading-bidirectional)
  std::mt19937 random(22);  // fixed: the same texts every run
  std::uniform_int_distribution<std::size_t> piece(0, PIECES.size() - 1);
  std::uniform_int_distribution<int> count(0, 10);
  for (int round = 0; round < 20000; ++round) {
    std::string outside;
    for (int n = count(random); n > 0; --n) outside += PIECES[piece(random)];
    const std::string shown = inert(outside);
    ASSERT_TRUE(text::is_valid_utf8(shown)) << testing::PrintToString(outside);
    for (std::string_view rest = shown; !rest.empty();) {
      const auto c = text::decode_utf8_char(rest);
      ASSERT_FALSE(acts_on_terminal(c.code_point)) << testing::PrintToString(outside);
      rest.remove_prefix(c.length);
    }
    ASSERT_EQ(read_back(shown), outside) << testing::PrintToString(shown);
  }
}

}  // namespace
}  // namespace sorvane
