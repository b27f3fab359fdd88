#include "text/unicode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sorvane::text {
namespace {

struct WidthCase {
  const char* text;
  std::size_t width;
};

TEST(DisplayWidth, FollowsTheNonEastAsianRules) {
  const std::vector<WidthCase> cases = {
      {"", 0},
      {"web-1", 5},
      {"\xEF\xBC\x8C", 2},                                      // U+FF0C fullwidth comma
      {"\xE7\x94\x9F\xE4\xBA\xA7", 4},                          // 生产
      {"\xE3\x81\x82\xED\x95\x9C", 4},                          // kana and Hangul
      {"\xC2\xA7\xC2\xB0\xC3\x97", 3},                          // ambiguous: § ° ×
      {"\xCE\xB1\xD0\x96", 2},                                  // Greek and Cyrillic
      {"\xE2\x94\x80\xE2\x80\xA6\xE2\x86\x92\xE2\x91\xA0", 4},  // ─ … → ①
      {"a\xE2\x80\x8B"
       "b",
       2},                                          // U+200B zero width space
      {"e\xCC\x81", 1},                             // e + combining acute
      {"\xE2\x80\x8D\xE2\x81\xA0\xEF\xBB\xBF", 0},  // ZWJ, word joiner, BOM
      {"\xE2\x9D\xA4\xEF\xB8\x8F", 2},              // ❤ + VS16
      {"\xE2\x9D\xA4", 1},                          // ❤ alone: text presentation
      {"#\xEF\xB8\x8F", 2},                         // keycap base with VS16
      {"a\xEF\xB8\x8F", 1},                         // VS16 after a non-emoji: no effect
      {"\xE2\x8C\x9A\xEF\xB8\x8F", 2},              // ⌚ is wide already; the pair stays 2
      {"\xF0\x9F\x98\x80", 2},                      // emoji with default emoji presentation
      {"\t\x1B", 2},                                // controls count one
      {"\xFF"
       "a",
       2},                              // ill-formed byte shown as U+FFFD
      {"\xE1\x84\x80\xE1\x85\xA1", 2},  // Hangul initial + medial jamo
      {"\xC2\xAD", 1},                  // soft hyphen is drawn
  };
  for (const auto& c : cases) {
    EXPECT_EQ(display_width(c.text), c.width) << testing::PrintToString(std::string(c.text));
  }
}

struct LowerCase {
  const char* input;
  const char* expected;
};

TEST(LowerFull, MapsEveryScriptWithoutLocale) {
  const std::vector<LowerCase> cases = {
      {"C:\\Users\\Ann\\AppData", "c:\\users\\ann\\appdata"},
      {"\xC4\xB0", "i\xCC\x87"},                                 // İ -> i + combining dot
      {"I", "i"},                                                // no Turkish rule
      {"\xC3\x84\xC3\x96\xC3\x9C", "\xC3\xA4\xC3\xB6\xC3\xBC"},  // ÄÖÜ
      {"\xD0\x9F\xD0\xA0\xD0\x98", "\xD0\xBF\xD1\x80\xD0\xB8"},  // ПРИ
      {"\xC3\x9F", "\xC3\x9F"},                                  // ß has no lower change
      {"\xE2\x84\xAA", "k"},                                     // Kelvin sign
      {"\xC7\x85", "\xC7\x86"},                                  // title case Dž
      {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},                  // Deseret, outside the BMP
      {"\xE7\x94\x9F\xE4\xBA\xA7", "\xE7\x94\x9F\xE4\xBA\xA7"},
      {"a\xFF", "a\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(to_lower_full(c.input), c.expected) << c.input;
  }
}

TEST(LowerFull, FinalSigma) {
  const std::vector<LowerCase> cases = {
      {"\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82"},  // ΟΔΟΣ -> οδος
      {"\xCE\xA3", "\xCF\x83"},                                                  // Σ alone -> σ
      {"\xCE\x91\xCE\xA3 \xCE\x92", "\xCE\xB1\xCF\x82 \xCE\xB2"},  // ΑΣ Β -> ας β
      {"\xCE\xA3\xCE\x91", "\xCF\x83\xCE\xB1"},                    // initial -> σ
      {"\xCE\x91\xCE\xA3\xCE\x91", "\xCE\xB1\xCF\x83\xCE\xB1"},    // medial -> σ
      {"\xCE\x91'\xCE\xA3", "\xCE\xB1'\xCF\x82"},                  // apostrophe is ignorable
      {"\xCE\x91\xCE\xA3'\xCE\x91", "\xCE\xB1\xCF\x83'\xCE\xB1"},  // ...on both sides
      {"1\xCE\xA3", "1\xCF\x83"},                                  // digit is not cased
      {"\xCE\x91\xCE\xA3\xCE\xA3", "\xCE\xB1\xCF\x83\xCF\x82"},    // ΑΣΣ -> ασς
      {"\xCE\x91\xCE\xA3.", "\xCE\xB1\xCF\x82."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(to_lower_full(c.input), c.expected) << c.input;
  }
}

TEST(WhiteSpaceTrim, RemovesUnicodeWhiteSpaceAtTheEnds) {
  struct Case {
    std::string input;
    std::string both;
    std::string trailing;
  };
  const std::vector<Case> cases = {
      {"", "", ""},
      {" \t\r\n", "", ""},
      {"  ls -l \n", "ls -l", "  ls -l"},
      {"\xC2\xA0x\xE3\x80\x80", "x", "\xC2\xA0x"},          // NBSP, ideographic space
      {"\xE2\x80\xA8x\xC2\x85", "x", "\xE2\x80\xA8x"},      // U+2028, NEL
      {"x\xE2\x80\x8B", "x\xE2\x80\x8B", "x\xE2\x80\x8B"},  // U+200B is no white space
      {"x \xFF", "x \xFF", "x \xFF"},                       // ill-formed byte stops the trim
      {"\xE3\x80", "\xE3\x80", "\xE3\x80"},                 // truncated U+3000 is not space
      {"\x80\x80\x80\x80 ", "\x80\x80\x80\x80", "\x80\x80\x80\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(trim_white_space(c.input), c.both) << testing::PrintToString(c.input);
    EXPECT_EQ(trim_trailing_white_space(c.input), c.trailing) << testing::PrintToString(c.input);
  }
}

TEST(WhiteSpaceProperty, MatchesTheCharacterDatabase) {
  for (char32_t c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x200A, 0x2028,
                     0x2029, 0x202F, 0x205F, 0x3000}) {
    EXPECT_TRUE(is_white_space(c)) << std::hex << static_cast<unsigned>(c);
  }
  for (char32_t c : {0x00, 0x08, 0x0E, 0x1F, 0x21, 0x180E, 0x200B, 0x2060, 0xFEFF, 0x10FFFF}) {
    EXPECT_FALSE(is_white_space(c)) << std::hex << static_cast<unsigned>(c);
  }
}

}  // namespace
}  // namespace sorvane::text
