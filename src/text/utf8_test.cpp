#include "text/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sorvane::text {
namespace {

const std::string R(REPLACEMENT_UTF8);

struct LossyCase {
  const char* name;
  std::string input;
  std::string expected;
};

// Substitution of maximal subparts, as the Unicode Standard's practice
// (and every major browser) does it.
TEST(Utf8Lossy, ReplacesEachMaximalSubpartOnce) {
  // clang-format off
  const std::vector<LossyCase> cases = {
      {"ascii", "plain text", "plain text"},
      {"valid multibyte", "\xE4\xB8\xAD\xF0\x9F\x98\x80", "\xE4\xB8\xAD\xF0\x9F\x98\x80"},
      {"two-byte subpart then ascii", "\xE4\xB8" "A", R + "A"},
      {"F0 then bad second byte", "\xF0\x80", R + R},
      {"surrogate encoded", "\xED\xA0\x80", R + R + R},
      {"overlong two-byte lead", "\xC0\xAF", R + R},
      {"C1 lead", "\xC1", R},
      {"F5 and FF", "\xF5\xFF", R + R},
      {"overlong three-byte", "\xE0\x80\xAF", R + R + R},
      {"above U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
      {"U+10FFFF itself", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
      {"lone continuation", "a\x80" "b", "a" + R + "b"},
      {"three of four bytes then ascii", "\xF0\x9F\x98" "x", R + "x"},
      {"truncated tail at end", "ok\xE4\xB8", "ok" + R},
      {"lone lead at end", "ok\xF0", "ok" + R},
      {"FF inside text", "a\xFF" "b", "a" + R + "b"},
      {"embedded NUL kept", std::string("a\0b", 3), std::string("a\0b", 3)},
      {"long ascii before error", std::string(40, 'x') + "\xFF", std::string(40, 'x') + R},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(utf8_lossy(c.input), c.expected) << c.name;
    EXPECT_EQ(is_valid_utf8(c.input), c.input == c.expected) << c.name;
  }
}

TEST(Utf8Decode, ReportsLengthValidityAndTruncation) {
  struct Case {
    std::string bytes;
    char32_t code_point;
    std::size_t length;
    bool valid;
    bool truncated;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"A", U'A', 1, true, false},
      {"\xC3\xA9", U'\u00E9', 2, true, false},
      {"\xE2\x82\xAC", U'\u20AC', 3, true, false},
      {"\xF0\x9F\x98\x80", U'\U0001F600', 4, true, false},
      {"\xE4\xB8", REPLACEMENT_CHAR, 2, false, true},
      {"\xF0\x9F\x98", REPLACEMENT_CHAR, 3, false, true},
      {"\xF0", REPLACEMENT_CHAR, 1, false, true},
      {"\xE4\xB8" "A", REPLACEMENT_CHAR, 2, false, false},
      {"\xED\xA0\x80", REPLACEMENT_CHAR, 1, false, false},
      {"\xF0\x80", REPLACEMENT_CHAR, 1, false, false},
      {"\x80", REPLACEMENT_CHAR, 1, false, false},
      {"\xC0", REPLACEMENT_CHAR, 1, false, false},
  };
  // clang-format on
  for (const auto& c : cases) {
    const DecodedChar d = decode_utf8_char(c.bytes);
    EXPECT_EQ(d.code_point, c.code_point) << testing::PrintToString(c.bytes);
    EXPECT_EQ(d.length, c.length) << testing::PrintToString(c.bytes);
    EXPECT_EQ(d.valid, c.valid) << testing::PrintToString(c.bytes);
    EXPECT_EQ(d.truncated, c.truncated) << testing::PrintToString(c.bytes);
  }
}

TEST(Utf8Repair, HoldsBackOnlyACompletableTail) {
  struct Case {
    std::string bytes;
    std::string out;
    std::size_t consumed;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"", "", 0},
      {"abc", "abc", 3},
      {"ab\xE4\xB8", "ab", 2},
      {"ab\xF0\x9F\x98", "ab", 2},
      {"\xE4", "", 0},
      {"ab\xE4\xB8\xAD", "ab\xE4\xB8\xAD", 5},
      {"\xFF", R, 1},                      // never completable
      {"a\xFF\xE4\xB8", "a" + R, 2},       // error, then a held tail
      {"\xE4\xB8" "A\xE4", R + "A", 3},    // broken in the middle, tail held
      {"\xED\xA0", R + R, 2},              // ED A0 can never be completed
      {"a\x1B[31mred", "a\x1B[31mred", 9}, // escape sequences pass through
  };
  // clang-format on
  for (const auto& c : cases) {
    std::string out = "prefix:";
    EXPECT_EQ(repair_utf8_prefix(c.bytes, out), c.consumed) << testing::PrintToString(c.bytes);
    EXPECT_EQ(out, "prefix:" + c.out) << testing::PrintToString(c.bytes);
  }
}

// A character split over several writes is shown once and whole, whatever
// the split points are.
TEST(Utf8Repair, SplitCharactersJoinAcrossChunks) {
  const std::string text = "a\xE4\xB8\xAD\xF0\x9F\x98\x80\xC3\xA9z";
  for (std::size_t cut1 = 0; cut1 <= text.size(); ++cut1) {
    for (std::size_t cut2 = cut1; cut2 <= text.size(); ++cut2) {
      std::string pending;
      std::string shown;
      for (const auto& chunk :
           {text.substr(0, cut1), text.substr(cut1, cut2 - cut1), text.substr(cut2)}) {
        pending += chunk;
        pending.erase(0, repair_utf8_prefix(pending, shown));
        EXPECT_LE(pending.size(), 3u);
      }
      EXPECT_EQ(shown, text) << cut1 << "," << cut2;
      EXPECT_TRUE(pending.empty());
    }
  }
}

TEST(Utf8Utf16, ConvertsBothWays) {
  const std::u16string text = u"a\u00E9\u4E2D\U0001F600";
  const std::string utf8 = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";
  EXPECT_EQ(utf16_to_utf8(text), utf8);
  EXPECT_EQ(utf16_to_utf8_lossy(text), utf8);
  EXPECT_EQ(utf16_to_wtf8(text), utf8);
  EXPECT_EQ(utf8_to_utf16(utf8), text);
  EXPECT_EQ(wtf8_to_utf16(utf8), text);
}

TEST(Utf8Utf16, UnpairedSurrogates) {
  struct Case {
    std::u16string utf16;
    std::string lossy;
    std::string wtf8;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {u"a\xD800" "b", "a" + R + "b", "a\xED\xA0\x80" "b"},
      {u"\xDC00", R, "\xED\xB0\x80"},
      {u"x\xDBFF", "x" + R, "x\xED\xAF\xBF"},
      {std::u16string{0xDC00, 0xD800}, R + R, "\xED\xB0\x80\xED\xA0\x80"},  // reversed pair
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(utf16_to_utf8(c.utf16), std::nullopt);
    EXPECT_EQ(utf16_to_utf8_lossy(c.utf16), c.lossy);
    EXPECT_EQ(utf16_to_wtf8(c.utf16), c.wtf8);
    EXPECT_EQ(wtf8_to_utf16(c.wtf8), c.utf16);  // the round trip is lossless
    EXPECT_FALSE(is_valid_utf8(c.wtf8));        // but it is not UTF-8
  }
}

TEST(Utf8Utf16, InvalidUtf8BecomesReplacement) {
  EXPECT_EQ(utf8_to_utf16("a\xFF\xE4\xB8"), u"a\uFFFD\uFFFD");
  EXPECT_EQ(utf8_to_utf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(wtf8_to_utf16("\xC0\xAF"), u"\uFFFD\uFFFD");
}

TEST(Utf8Append, EncodesAndReplacesNonScalars) {
  std::string out;
  for (char32_t c :
       {U'\0', U'\x7F', U'\x80', U'\x7FF', U'\x800', U'\xFFFF', U'\x10000', U'\x10FFFF'}) {
    out.clear();
    append_utf8(out, c);
    const DecodedChar d = decode_utf8_char(out);
    EXPECT_TRUE(d.valid);
    EXPECT_EQ(d.code_point, c);
    EXPECT_EQ(d.length, out.size());
  }
  out.clear();
  append_utf8(out, 0xD800);
  append_utf8(out, 0x110000);
  EXPECT_EQ(out, R + R);
}

}  // namespace
}  // namespace sorvane::text
