// Every code point against ICU's general category.
#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <algorithm>

#include "output/inert_text.h"
#include "text/utf8.h"

namespace sorvane {
namespace {

// A code point shows as itself, or, exactly when it is a control, a format
// character or a line or paragraph separator, as one escape in plain ASCII.
TEST(InertIcu, EveryCodePointShowsAsItselfUnlessItHidesOrActs) {
  for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;  // not in UTF-8
    const int type = u_charType(c);
    const bool escaped = type == U_CONTROL_CHAR || type == U_FORMAT_CHAR ||
                         type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
    std::string outside;
    text::append_utf8(outside, static_cast<char32_t>(c));
    const std::string shown = inert(outside);
    if (!escaped) {
      ASSERT_EQ(shown, outside) << std::hex << c;
    } else {
      ASSERT_TRUE(shown.starts_with('\\') &&
                  std::ranges::all_of(shown, [](char b) { return b >= 0x20 && b < 0x7F; }))
          << std::hex << c;
    }
  }
}

}  // namespace
}  // namespace sorvane
