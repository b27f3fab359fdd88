#include "protocol/json_quote.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace sorvane {
namespace {

TEST(JsonQuote, EscapesExactlyTheRequestSet) {
  for (int c = 0; c < 0x80; ++c) {
    std::string quoted = json_quote(std::string(1, static_cast<char>(c)));
    std::string expected;
    switch (c) {
      case '"':
        expected = R"("\"")";
        break;
      case '\\':
        expected = R"("\\")";
        break;
      case '\b':
        expected = R"("\b")";
        break;
      case '\t':
        expected = R"("\t")";
        break;
      case '\n':
        expected = R"("\n")";
        break;
      case '\f':
        expected = R"("\f")";
        break;
      case '\r':
        expected = R"("\r")";
        break;
      default: {
        if (c < 0x20) {
          char buf[16];
          std::snprintf(buf, sizeof buf, "\"\\u%04x\"", c);
          expected = buf;
        } else {
          expected = std::string("\"") + static_cast<char>(c) + "\"";
        }
      }
    }
    EXPECT_EQ(quoted, expected) << "character " << c;
    EXPECT_EQ(json_string_length(std::string(1, static_cast<char>(c))), expected.size()) << c;
  }
  EXPECT_EQ(json_quote(""), "\"\"");
  EXPECT_EQ(json_quote("\xE4\xB8\xAD"), "\"\xE4\xB8\xAD\"");
}

TEST(JsonQuote, AppendsAfterWhatIsThere) {
  // Short and plain, escapes at either end and in between, longer than the
  // one-append case, non-ASCII: all appended after existing text.
  const std::string long_plain(200, 'x');
  const std::string long_mixed = std::string(100, 'a') + "\"\x01" + std::string(100, 'b') + "\\";
  const struct {
    std::string in;
    std::string quoted;
  } cases[] = {
      {"plain", R"("plain")"},
      {"\"both ends\\", R"("\"both ends\\")"},
      {"a\nb\x1f\x7f/c", "\"a\\nb\\u001f\x7f/c\""},
      {long_plain, "\"" + long_plain + "\""},
      {long_mixed, "\"" + std::string(100, 'a') + "\\\"\\u0001" + std::string(100, 'b') + "\\\\\""},
      {"\xE4\xB8\xAD\xE6\x96\x87", "\"\xE4\xB8\xAD\xE6\x96\x87\""},
  };
  for (const auto& c : cases) {
    std::string out = "prefix:";
    append_json_string(out, c.in);
    EXPECT_EQ(out, "prefix:" + c.quoted) << c.in;
    EXPECT_EQ(json_quote(c.in), c.quoted) << c.in;
    EXPECT_EQ(json_string_length(c.in), c.quoted.size()) << c.in;
  }
}

}  // namespace
}  // namespace sorvane
