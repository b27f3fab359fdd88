// Every code point against ICU (same Unicode version as the tables).
#include <gtest/gtest.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <string>

#include "text/unicode.h"
#include "text/utf8.h"

namespace sorvane::text {
namespace {

constexpr UChar32 LAST_CODE_POINT = 0x10FFFF;

bool is_surrogate(UChar32 c) { return c >= 0xD800 && c <= 0xDFFF; }

std::string utf8_of(UChar32 c) {
  std::string out;
  append_utf8(out, static_cast<char32_t>(c));
  return out;
}

std::string icu_lower(UChar32 c) {
  UChar source[2];
  int32_t length = 0;
  U16_APPEND_UNSAFE(source, length, c);
  UChar lower[16];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t lower_length = u_strToLower(lower, 16, source, length, "", &status);
  EXPECT_TRUE(U_SUCCESS(status));
  return utf16_to_utf8_lossy(std::u16string_view(lower, static_cast<std::size_t>(lower_length)));
}

TEST(UnicodeIcu, WhiteSpaceOfEveryCodePoint) {
  for (UChar32 c = 0; c <= LAST_CODE_POINT; ++c) {
    ASSERT_EQ(is_white_space(static_cast<char32_t>(c)),
              u_hasBinaryProperty(c, UCHAR_WHITE_SPACE) != 0)
        << std::hex << c;
  }
}

// A single code point has nothing around it, so even Σ must agree (σ).
TEST(UnicodeIcu, LowerCaseOfEveryCodePoint) {
  for (UChar32 c = 0; c <= LAST_CODE_POINT; ++c) {
    if (is_surrogate(c)) continue;
    ASSERT_EQ(to_lower_full(utf8_of(c)), icu_lower(c)) << std::hex << c;
  }
}

TEST(UnicodeIcu, FinalSigmaInContextMatches) {
  const std::u16string texts[] = {u"ΟΔΟΣ", u"ΑΣ Β", u"Α'Σ", u"ΑΣ'Α",
                                  u"Σ",    u"ΑΣʰ",  u"ʰΣ",  u"Α\u0345Σ"};
  for (const std::u16string& text : texts) {
    UChar lower[32];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length =
        u_strToLower(lower, 32, text.data(), static_cast<int32_t>(text.size()), "", &status);
    ASSERT_TRUE(U_SUCCESS(status));
    EXPECT_EQ(to_lower_full(utf16_to_utf8_lossy(text)),
              utf16_to_utf8_lossy(std::u16string_view(lower, static_cast<std::size_t>(length))))
        << utf16_to_utf8_lossy(text);
  }
}

TEST(UnicodeIcu, CanonicalStabilityAndFormatOfEveryCodePoint) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  ASSERT_TRUE(U_SUCCESS(status));
  for (UChar32 c = 0; c <= LAST_CODE_POINT; ++c) {
    if (is_surrogate(c)) continue;
    icu::UnicodeString ignored;
    const bool stable = !nfd->getDecomposition(c, ignored) && u_getCombiningClass(c) == 0;
    ASSERT_EQ(is_canonically_stable(static_cast<char32_t>(c)), stable) << std::hex << c;
    const auto type = static_cast<UCharCategory>(u_charType(c));
    const bool format =
        type == U_FORMAT_CHAR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
    ASSERT_EQ(is_format_or_separator(static_cast<char32_t>(c)), format) << std::hex << c;
  }
}

// Marks take no column, Wide and Fullwidth take two: the two rules that the
// width table must share with ICU. (The rest are our own choices.)
TEST(UnicodeIcu, WidthOfEveryCodePoint) {
  for (UChar32 c = 0; c <= LAST_CODE_POINT; ++c) {
    if (is_surrogate(c)) continue;
    const auto type = static_cast<UCharCategory>(u_charType(c));
    const auto east_asian = u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH);
    const std::size_t width = display_width(utf8_of(c));
    if (type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK) {
      ASSERT_EQ(width, 0u) << std::hex << c;
    } else if (east_asian == U_EA_WIDE || east_asian == U_EA_FULLWIDTH) {
      ASSERT_EQ(width, 2u) << std::hex << c;
    } else if (type != U_FORMAT_CHAR && !(c >= 0x1160 && c <= 0x11FF) &&
               !(c >= 0xD7B0 && c <= 0xD7FF)) {
      ASSERT_EQ(width, 1u) << std::hex << c;
    }
  }
}

}  // namespace
}  // namespace sorvane::text
