#include "output/transfer_output.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "output/recording_stream_for_tests.h"

namespace sorvane {
namespace {

using testing::RecordedStreams;
using testing::RecordingStream;

TEST(FormatSize, UnitBoundariesAndRounding) {
  struct Case {
    std::uint64_t bytes;
    const char* text;
  };
  constexpr std::uint64_t KIB = 1024;
  constexpr std::uint64_t MIB = KIB * KIB;
  constexpr std::uint64_t GIB = MIB * KIB;
  constexpr std::uint64_t TIB = GIB * KIB;
  const Case cases[] = {
      {0, "0 B"},
      {1, "1 B"},
      {1023, "1023 B"},
      {1024, "1.0 KB"},
      {1075, "1.0 KB"},
      {1127, "1.1 KB"},
      {1280, "1.2 KB"},  // exactly 1.25: tie to even
      {1536, "1.5 KB"},
      {1792, "1.8 KB"},  // exactly 1.75: tie to even
      {2304, "2.2 KB"},  // exactly 2.25
      {MIB - 1, "1024.0 KB"},
      {MIB, "1.0 MB"},
      {3407872, "3.2 MB"},  // exactly 3.25
      {GIB - 1, "1024.0 MB"},
      {GIB, "1.0 GB"},
      {TIB - 1, "1024.0 GB"},
      {TIB, "1.0 TB"},
      {TIB * 1024, "1024.0 TB"},  // no unit above TB
      {TIB * 1024 * 1024, "1048576.0 TB"},
      {std::numeric_limits<std::uint64_t>::max(), "16777216.0 TB"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_size(c.bytes), c.text) << c.bytes;
}

struct ProgressFixture {
  RecordingStream stream;
  ConsoleSink err{stream, true};
  ProgressLine line{err};
};

TEST(Progress, ShorterLineBlanksTheRestAndRedraws) {
  ProgressFixture f;
  // "10/10 个文件，1.0 MB / 10.0 MB" is 30 columns wide.
  draw_progress({10, 10, 1048576, 10485760}, f.line);
  EXPECT_EQ(f.stream.text, "\r10/10 个文件，1.0 MB / 10.0 MB");
  EXPECT_EQ(f.line.width(), 30u);

  // "1/9 个文件，1.0 MB / 1.0 MB" is 27 wide: three blanks, then the text again.
  f.stream.text.clear();
  draw_progress({1, 9, 1048576, 1048576}, f.line);
  EXPECT_EQ(f.stream.text, "\r1/9 个文件，1.0 MB / 1.0 MB   \r1/9 个文件，1.0 MB / 1.0 MB");
  EXPECT_EQ(f.line.width(), 27u);

  // As wide or wider: a plain redraw.
  f.stream.text.clear();
  draw_progress({3, 10, 1536, 1048576}, f.line);
  EXPECT_EQ(f.stream.text, "\r3/10 个文件，1.5 KB / 1.0 MB");
  EXPECT_EQ(f.line.width(), 28u);

  EXPECT_EQ(f.stream.writes, 3);
  EXPECT_EQ(f.stream.flushes, 3);
  EXPECT_EQ(f.stream.text.find('\n'), std::string::npos);
}

TEST(Progress, EraseBlanksTheLineAndResetsWidth) {
  ProgressFixture f;
  draw_progress({1, 9, 1048576, 1048576}, f.line);
  f.stream.text.clear();
  f.line.erase();
  EXPECT_EQ(f.stream.text, "\r" + std::string(27, ' ') + "\r");
  EXPECT_EQ(f.line.width(), 0u);
  EXPECT_EQ(f.stream.flushes, 2);
}

TEST(Progress, WriteFailuresAreIgnored) {
  ProgressFixture f;
  f.stream.fail_writes = true;
  draw_progress({1, 9, 1048576, 1048576}, f.line);
  EXPECT_EQ(f.line.width(), 27u);
  f.line.erase();
  EXPECT_EQ(f.line.width(), 0u);
}

TEST(SummaryText, SuffixesAndFailureLines) {
  struct Case {
    TransferSummary summary;
    const char* out = nullptr;
    const char* err = nullptr;
  };
  const Case cases[] = {
      {{3, 1536, 0, 0, {}}, "已传输 3 个文件，共 1.5 KB\n", ""},
      {{12, 3407872, 2, 0, {}}, "已传输 12 个文件，共 3.2 MB，跳过 2 个\n", ""},
      {{0, 0, 0, 3, {"a: 失败", "b: 失败", "c: 失败"}},
       "已传输 0 个文件，共 0 B，失败 3 个\n",
       "a: 失败\nb: 失败\nc: 失败\n"},
      {{5, 1024, 1, 2, {"x", "y"}}, "已传输 5 个文件，共 1.0 KB，跳过 1 个，失败 2 个\n", "x\ny\n"},
      // The list is printed whatever the counts say, exactly as received.
      {{1, 1, 0, 0, {"  spaced\ttext ", ""}},
       "已传输 1 个文件，共 1 B\n",
       "  spaced\\x09text \n\n"},
  };
  for (const Case& c : cases) {
    RecordedStreams io(false);
    ASSERT_TRUE(print_summary(c.summary, io.streams));
    EXPECT_EQ(io.out.text, c.out);
    EXPECT_EQ(io.err.text, c.err);
    EXPECT_EQ(io.out.writes, 1);
    EXPECT_LE(io.err.writes, 1);
  }
}

TEST(SummaryJson, WithoutFailures) {
  RecordedStreams io(true);
  ASSERT_TRUE(print_summary({7, 3407872, 5, 0, {}}, io.streams));
  EXPECT_EQ(io.out.text,
            "{\n"
            "  \"files\": 7,\n"
            "  \"bytes\": 3407872,\n"
            "  \"skipped\": 5,\n"
            "  \"failed\": 0,\n"
            "  \"failures\": []\n"
            "}\n");
  EXPECT_EQ(io.err.text, "");
}

TEST(SummaryJson, FailuresAreOnePerLineAndEscaped) {
  RecordedStreams io(true);
  const std::uint64_t big = std::numeric_limits<std::uint64_t>::max();
  ASSERT_TRUE(
      print_summary({1, big, 0, 2, {"C:\\目录\\a.txt: 拒绝访问", "say \"hi\"\n"}}, io.streams));
  EXPECT_EQ(io.out.text,
            "{\n"
            "  \"files\": 1,\n"
            "  \"bytes\": 18446744073709551615,\n"
            "  \"skipped\": 0,\n"
            "  \"failed\": 2,\n"
            "  \"failures\": [\n"
            "    \"C:\\\\目录\\\\a.txt: 拒绝访问\",\n"
            "    \"say \\\"hi\\\"\\n\"\n"
            "  ]\n"
            "}\n");
  EXPECT_EQ(io.err.text, "");
  EXPECT_EQ(io.out.writes, 1);
}

TEST(Summary, FailedWritesAreReturned) {
  const TransferSummary summary{1, 1, 0, 1, {"bad"}};
  {
    // Summary line fails: nothing more is written.
    RecordedStreams io(false);
    io.out.fail_writes = true;
    auto result = print_summary(summary, io.streams);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().text, "broken pipe (os error 32)");
    EXPECT_EQ(io.err.writes, 0);
  }
  {
    RecordedStreams io(false);
    io.err.fail_writes = true;
    EXPECT_FALSE(print_summary(summary, io.streams));
  }
  {
    RecordedStreams io(true);
    io.out.fail_writes = true;
    EXPECT_FALSE(print_summary(summary, io.streams));
  }
}

}  // namespace
}  // namespace sorvane
