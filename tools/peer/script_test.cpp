#include "script.h"

#include <gtest/gtest.h>

#include "test_streams.h"

namespace sorvane::peer {
namespace {

using testing::split_frames;
using testing::StringWriter;

TEST(PeerUnescape, DecodesEscapesAndRefusesBrokenOnes) {
  struct Case {
    std::string_view in;
    bool ok;
    std::string out;
  };
  const Case cases[] = {
      {"plain text", true, "plain text"},
      {R"(a\nb\tc\rd\\e)", true, "a\nb\tc\rd\\e"},
      {R"(\xE4\xb8)", true, "\xE4\xB8"},
      {R"(\xff\x00)", true, std::string("\xFF\0", 2)},
      {R"(\0)", true, std::string(1, '\0')},
      {R"(\x4)", false, ""},
      {R"(\xZZ)", false, ""},
      {R"(\q)", false, ""},
      {R"(ends with\)", false, ""},
  };
  for (const auto& c : cases) {
    auto got = unescape(c.in);
    ASSERT_EQ(got.has_value(), c.ok) << c.in;
    if (c.ok) {
      EXPECT_EQ(*got, c.out) << c.in;
    }
  }
}

TEST(PeerScript, ParsesEveryStepAndSkipsCommentsAndBlankLines) {
  auto script = parse_script(
      "# a comment\n"
      "\n"
      "json {\"type\":\"exit\", \"code\":0}\r\n"
      "stdout two  spaces\\n\n"
      "stderr\n"
      "frame 0x6a 300 ab\n"
      "frame 31 - \\xe4\n"
      "raw \\x4a\n"
      "pause 5\n"
      "stdout-repeat 1024 3\n"
      "hosts-repeat 100\n"
      "hold\n"
      "close\n");
  ASSERT_TRUE(script) << script.error();
  ASSERT_EQ(script->size(), 11u);
  const Script& s = *script;
  EXPECT_EQ(s[0].bytes, "{\"type\":\"exit\", \"code\":0}");  // verbatim, CR of CRLF dropped
  EXPECT_EQ(s[1].bytes, "two  spaces\n");
  EXPECT_EQ(s[2].op, Step::Op::Stderr);
  EXPECT_EQ(s[2].bytes, "");
  EXPECT_EQ(s[3].kind, 0x6A);
  EXPECT_EQ(s[3].length, 300u);
  EXPECT_EQ(s[3].bytes, "ab");
  EXPECT_EQ(s[4].length, 1u);
  EXPECT_EQ(s[7].size, 1024u);
  EXPECT_EQ(s[7].count, 3u);
  EXPECT_EQ(s[8].size, 100u);
  EXPECT_EQ(s[10].op, Step::Op::Close);
}

TEST(PeerScript, ReportsTheLineOfAFaultyStep) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"json {}\nbogus step\n", "line 2: unknown step 'bogus'"},
      {"# c\nstdout \\q\n", "line 2: unknown escape \\q"},
      {"pause soon\n", "line 1: pause: expected a number"},
      {"frame zz 1 a\n", "line 1: frame: bad kind byte"},
      {"frame 4a x a\n", "line 1: frame: bad length"},
      {"stdout-repeat 16777217 1\n", "line 1: stdout-repeat: size over 16 MiB"},
      {"close now\n", "line 1: close takes no argument"},
  };
  for (const auto& [text, message] : cases) {
    auto script = parse_script(text);
    ASSERT_FALSE(script) << text;
    EXPECT_EQ(script.error(), message);
  }
}

TEST(PeerScript, WritesFramesWithTheDeclaredLengthAndStopsAtClose) {
  auto script = parse_script("stdout \\xe4\\xb8\nframe 4a 9 {}\nclose\nstdout never\n");
  ASSERT_TRUE(script);
  StringWriter out;
  testing::EmptyReader in;
  ASSERT_TRUE(run_script(*script, in, out));
  EXPECT_EQ(out.text, std::string("1\0\0\0\x02\xe4\xb8J\0\0\0\x09{}", 14));
}

TEST(PeerScript, RepeatsStdoutFramesAndGeneratesHosts) {
  auto script = parse_script("stdout-repeat 100 3\nhosts-repeat 2\n");
  ASSERT_TRUE(script);
  StringWriter out;
  testing::EmptyReader in;
  ASSERT_TRUE(run_script(*script, in, out));
  auto split = split_frames(out.text);
  ASSERT_EQ(split.frames.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(split.frames[i].first, '1');
    EXPECT_EQ(split.frames[i].second.size(), 100u);
  }
  EXPECT_EQ(split.frames[3].first, 'J');
  EXPECT_NE(split.frames[3].second.find("\"type\":\"hosts\""), std::string::npos);
  EXPECT_TRUE(split.rest.empty());
}

TEST(PeerScript, StopsAtTheFirstFailedWrite) {
  auto script = parse_script("stdout a\nstdout b\n");
  ASSERT_TRUE(script);
  StringWriter out;
  out.broken = true;
  testing::EmptyReader in;
  auto ran = run_script(*script, in, out);
  ASSERT_FALSE(ran);
  EXPECT_EQ(ran.error().kind, IoErrorKind::BrokenPipe);
}

}  // namespace
}  // namespace sorvane::peer
