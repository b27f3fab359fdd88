// Every code point against ICU's general category.
#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <string>

#include "output/inert_text.h"
#include "text/utf8.h"

namespace sorvane {
namespace {

constexpr UChar32 LAST_CODE_POINT = 0x10FFFF;

// A control, a format character, or a line or paragraph separator: nothing
// that may reach a terminal as itself.
bool hides_or_acts(UChar32 c) {
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return true;
    default:
      return false;
  }
}

bool is_printable_ascii(std::string_view text) {
  return std::ranges::all_of(text, [](char c) { return c >= 0x20 && c < 0x7F; });
}

// Each code point shows as itself, or, exactly when ICU says it hides or
// acts, as one escape in plain ASCII.
TEST(InertIcu, EveryCodePointShowsAsItselfUnlessItHidesOrActs) {
  for (UChar32 c = 0; c <= LAST_CODE_POINT; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;  // not in UTF-8
    std::string outside;
    text::append_utf8(outside, static_cast<char32_t>(c));
    const std::string shown = inert(outside);
    if (hides_or_acts(c)) {
      ASSERT_TRUE(shown.starts_with('\\') && is_printable_ascii(shown)) << std::hex << c;
    } else {
      ASSERT_EQ(shown, outside) << std::hex << c;
    }
  }
}

}  // namespace
}  // namespace sorvane
