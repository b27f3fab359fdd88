#include "output/console_sink.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/recording_stream_for_tests.h"

namespace sorvane {
namespace {

using testing::RecordingStream;

const std::string FFFD = "\xEF\xBF\xBD";

struct SinkCase {
  const char* name;
  std::vector<std::string> chunks;
  std::vector<std::string> terminal_writes;  // what reaches a terminal, write by write
  std::string terminal_after_finish;         // everything on the terminal at the end
};

TEST(ConsoleSink, TerminalGetsRepairedUtf8AndNonTerminalGetsBytesUnchanged) {
  // clang-format off
  const SinkCase cases[] = {
      {"ascii", {"hello"}, {"hello"}, "hello"},
      {"character split across writes", {"a\xE4\xB8", "\xAD" "b"}, {"a", "\xE4\xB8\xAD" "b"}, "a\xE4\xB8\xAD" "b"},
      {"split in three", {"\xF0", "\x9F\x98", "\x80"}, {"\xF0\x9F\x98\x80"}, "\xF0\x9F\x98\x80"},
      {"FF between letters", {"a\xFF" "b"}, {"a" + FFFD + "b"}, "a" + FFFD + "b"},
      {"maximal subpart replaced once", {"\xE4\xB8" "A"}, {FFFD + "A"}, FFFD + "A"},
      {"truncated tail at the end", {"ok\xE4\xB8"}, {"ok"}, "ok" + FFFD},
      {"lone lead then ascii in next write", {"\xE4", "A"}, {FFFD + "A"}, FFFD + "A"},
      {"control characters pass", {"\x1B[31mred\x1B[0m\r\n"}, {"\x1B[31mred\x1B[0m\r\n"},
       "\x1B[31mred\x1B[0m\r\n"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingStream terminal;
    ConsoleSink terminal_sink(terminal, true);
    RecordingStream file;
    ConsoleSink file_sink(file, false);
    std::string raw;
    for (const auto& chunk : c.chunks) {
      ASSERT_TRUE(terminal_sink.write_all(chunk));
      ASSERT_TRUE(file_sink.write_all(chunk));
      raw += chunk;
    }
    EXPECT_EQ(terminal.chunks, c.terminal_writes);
    EXPECT_EQ(file.chunks, c.chunks);
    terminal_sink.finish();
    file_sink.finish();
    EXPECT_EQ(terminal.text, c.terminal_after_finish);
    EXPECT_EQ(file.text, raw);
    EXPECT_EQ(terminal.flushes, 1);
    EXPECT_EQ(file.flushes, 1);
  }
}

TEST(ConsoleSink, FlushKeepsPendingBytesBack) {
  RecordingStream terminal;
  ConsoleSink sink(terminal, true);
  ASSERT_TRUE(sink.write_all(std::string_view("\xE4\xB8")));
  ASSERT_TRUE(sink.flush());
  EXPECT_TRUE(terminal.chunks.empty());
  EXPECT_EQ(terminal.flushes, 1);
  ASSERT_TRUE(sink.write_all(std::string_view("\xAD")));
  EXPECT_EQ(terminal.text, "\xE4\xB8\xAD");
}

TEST(ConsoleSink, WriteFailureIsReported) {
  for (bool is_terminal : {true, false}) {
    RecordingStream stream;
    stream.fail_writes = true;
    ConsoleSink sink(stream, is_terminal);
    auto result = sink.write_all(std::string_view("x"));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, IoErrorKind::BrokenPipe);
  }
}

TEST(ConsoleSink, FinishSkipsFlushWhenTheReplacementCannotBeWritten) {
  RecordingStream terminal;
  ConsoleSink sink(terminal, true);
  ASSERT_TRUE(sink.write_all(std::string_view("\xE4")));
  terminal.fail_writes = true;
  sink.finish();
  EXPECT_EQ(terminal.flushes, 0);
}

TEST(ConsoleSink, FinishIgnoresFlushFailureAndWritesNothingWithoutPending) {
  RecordingStream terminal;
  terminal.fail_flush = true;
  ConsoleSink sink(terminal, true);
  sink.finish();
  EXPECT_TRUE(terminal.chunks.empty());
  EXPECT_EQ(terminal.flushes, 1);
}

}  // namespace
}  // namespace sorvane
