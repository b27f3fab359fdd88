#include "protocol/request.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

struct EncodeCase {
  const char* name;
  Request request;
  std::string expected;
};

std::vector<EncodeCase> encode_cases() {
  return {
      {"list without query",
       {Request::List{}},
       R"({"version":2,"request":{"type":"list","query":null}})"},
      {"list with query",
       {Request::List{"web"}},
       R"({"version":2,"request":{"type":"list","query":"web"}})"},
      {"list with empty query",
       {Request::List{""}},
       R"({"version":2,"request":{"type":"list","query":""}})"},
      {"exec",
       {Request::Exec{"abc", "uptime"}},
       R"({"version":2,"request":{"type":"exec","host":"abc","command":"uptime"}})"},
      {"exec escapes quotes, backslash, tab, newline",
       {Request::Exec{"abc", "echo \"a\\b\"\tx\ny"}},
       R"({"version":2,"request":{"type":"exec","host":"abc","command":"echo \"a\\b\"\tx\ny"}})"},
      {"exec escapes every control character",
       {Request::Exec{"h", std::string("\x00\x01\x08\x0b\x0c\x0d\x1b\x1f\x7f", 9)}},
       R"({"version":2,"request":{"type":"exec","host":"h","command":"\u0000\u0001\b\u000b\f\r\u001b\u001f)"
       "\x7f\"}}"},
      {"exec keeps non-ASCII and slash raw",
       {Request::Exec{"主机", "cat /etc/名前 — é 😀"}},
       R"({"version":2,"request":{"type":"exec","host":"主机","command":"cat /etc/名前 — é 😀"}})"},
      {"upload",
       {Request::Upload{"abc", utf8_to_native("/home/u/文件.zip"), "~/in/"}},
       R"({"version":2,"request":{"type":"upload","host":"abc","source":"/home/u/文件.zip","destination":"~/in/"}})"},
      {"download",
       {Request::Download{"abc", "~/log \"x\".txt", utf8_to_native("C:\\Users\\u\\out")}},
       R"({"version":2,"request":{"type":"download","host":"abc","source":"~/log \"x\".txt","destination":"C:\\Users\\u\\out"}})"},
      {"activate", {Request::Activate{}}, R"({"version":2,"request":{"type":"activate"}})"},
  };
}

TEST(EncodeRequest, ByteExact) {
  for (const auto& test : encode_cases()) {
    auto encoded = encode_request(test.request);
    ASSERT_TRUE(encoded) << test.name << ": " << encoded.error();
    EXPECT_EQ(*encoded, test.expected) << test.name;
    EXPECT_NE(encoded->back(), '\n') << test.name;
  }
}

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
  }
}

}  // namespace
}  // namespace sorvane
