#include "ipc/frame.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <variant>

namespace sorvane {
namespace {

using Bytes = std::string;

Bytes header(char kind, std::uint32_t length) {
  return Bytes{kind, static_cast<char>(length >> 24), static_cast<char>(length >> 16),
               static_cast<char>(length >> 8), static_cast<char>(length)};
}

// Plays back chunks and errors one read_some at a time, then end of stream.
class ScriptedReader : public ByteReader {
 public:
  using Step = std::variant<Bytes, IoErrorKind>;
  explicit ScriptedReader(std::vector<Step> steps) : steps_(steps.begin(), steps.end()) {}

  IoResult<std::size_t> read_some(MutableByteSpan buffer) override {
    ++calls;
    if (steps_.empty()) return std::size_t{0};
    if (auto* kind = std::get_if<IoErrorKind>(&steps_.front())) {
      IoErrorKind k = *kind;
      steps_.pop_front();
      return fail(IoError{k, "scripted error"});
    }
    auto& chunk = std::get<Bytes>(steps_.front());
    std::size_t n = std::min(buffer.size(), chunk.size());
    std::copy_n(chunk.begin(), n, buffer.begin());
    chunk.erase(0, n);
    if (chunk.empty()) steps_.pop_front();
    return n;
  }

  int calls = 0;

 private:
  std::deque<Step> steps_;
};

class RecordingWriter : public ByteWriter {
 public:
  IoResult<std::size_t> write_some(ByteSpan bytes) override {
    if (fail_with) return fail(IoError{*fail_with, "scripted error"});
    if (interrupt_next) {
      interrupt_next = false;
      return fail(IoError{IoErrorKind::Interrupted, "interrupted"});
    }
    interrupt_next = interrupt_every_other;
    std::size_t n = std::min(bytes.size(), max_chunk);
    written.append(reinterpret_cast<const char*>(bytes.data()), n);
    return n;
  }

  Bytes written;
  std::size_t max_chunk = SIZE_MAX;
  bool interrupt_every_other = false;
  bool interrupt_next = false;
  std::optional<IoErrorKind> fail_with;
};

struct Outcome {
  std::vector<std::pair<FrameKind, Bytes>> frames;
  std::optional<IoError> error;  // none: clean end of stream
};

Outcome read_all(ScriptedReader& stream) {
  BufferedReader reader(stream);
  Outcome outcome;
  for (;;) {
    auto frame = read_frame(reader);
    if (!frame) {
      outcome.error = frame.error();
      return outcome;
    }
    if (!*frame) return outcome;
    outcome.frames.emplace_back((*frame)->kind,
                                Bytes((*frame)->payload.begin(), (*frame)->payload.end()));
  }
}

struct ReadCase {
  const char* name;
  std::vector<ScriptedReader::Step> steps;
  std::vector<std::pair<FrameKind, Bytes>> frames;
  std::optional<IoErrorKind> error_kind;
  std::string error_text;
};

const Bytes PAYLOAD_256(256, 'x');

std::vector<ReadCase> read_cases() {
  using K = IoErrorKind;
  const std::string fill = "failed to fill whole buffer";
  return {
      {"empty stream", {}, {}, {}, ""},
      {"one json frame", {header('J', 2) + "{}"}, {{FrameKind::Json, "{}"}}, {}, ""},
      {"length is big-endian",
       {header('1', 0).substr(0, 1) + Bytes("\0\0\x01\0", 4) + PAYLOAD_256},
       {{FrameKind::Stdout, PAYLOAD_256}},
       {},
       ""},
      {"empty stdout and stderr",
       {header('1', 0) + header('2', 0)},
       {{FrameKind::Stdout, ""}, {FrameKind::Stderr, ""}},
       {},
       ""},
      {"two frames in one read",
       {header('1', 3) + "abc" + header('J', 2) + "{}"},
       {{FrameKind::Stdout, "abc"}, {FrameKind::Json, "{}"}},
       {},
       ""},
      {"frame split byte by byte",
       {"2", Bytes(1, '\0'), Bytes(1, '\0'), Bytes(1, '\0'), "\x02", "o", "k"},
       {{FrameKind::Stderr, "ok"}},
       {},
       ""},
      {"lower-case j is no kind", {header('j', 2) + "{}"}, {}, K::InvalidData, "unknown frame"},
      {"zero kind byte", {header('\0', 0)}, {}, K::InvalidData, "unknown frame"},
      {"unknown kind after a good frame",
       {header('1', 1) + "a" + "\x7f"},
       {{FrameKind::Stdout, "a"}},
       K::InvalidData,
       "unknown frame"},
      {"length one over the limit",
       {header('1', MAX_FRAME_LEN + 1)},
       {},
       K::InvalidData,
       "frame too large"},
      {"largest length field", {header('J', 0xFFFFFFFF)}, {}, K::InvalidData, "frame too large"},
      {"end after kind byte", {"J"}, {}, K::UnexpectedEof, fill},
      {"end inside length", {"J\0\0"}, {}, K::UnexpectedEof, fill},
      {"end inside payload", {header('1', 5) + "abc"}, {}, K::UnexpectedEof, fill},
      {"interrupted reads are retried",
       {K::Interrupted, header('1', 2), K::Interrupted, "hi"},
       {{FrameKind::Stdout, "hi"}},
       {},
       ""},
      {"broken pipe between frames is end of stream",
       {header('1', 1) + "a", K::BrokenPipe},
       {{FrameKind::Stdout, "a"}},
       {},
       ""},
      {"broken pipe inside a frame",
       {header('1', 4) + "a", K::BrokenPipe},
       {},
       K::UnexpectedEof,
       fill},
      {"system error is passed on", {header('1', 4), K::Os}, {}, K::Os, "scripted error"},
  };
}

TEST(ReadFrame, Sequences) {
  for (auto& test : read_cases()) {
    ScriptedReader stream(test.steps);
    Outcome outcome = read_all(stream);
    EXPECT_EQ(outcome.frames, test.frames) << test.name;
    ASSERT_EQ(outcome.error.has_value(), test.error_kind.has_value()) << test.name;
    if (outcome.error) {
      EXPECT_EQ(outcome.error->kind, *test.error_kind) << test.name;
      EXPECT_EQ(outcome.error->text, test.error_text) << test.name;
    }
  }
}

TEST(ReadFrame, PayloadBufferIsExactAndBigPayloadsBypassTheBuffer) {
  const std::uint32_t length = 1 << 20;
  ScriptedReader stream({header('1', length) + Bytes(length, 'z')});
  BufferedReader reader(stream);
  auto frame = read_frame(reader);
  ASSERT_TRUE(frame && *frame);
  EXPECT_EQ((*frame)->payload.size(), length);
  EXPECT_EQ((*frame)->payload.capacity(), length);
  // One read fills the buffer, one more takes the remaining megabyte directly.
  EXPECT_LE(stream.calls, 2);
}

TEST(WriteFrame, HeaderThenPayload) {
  for (std::uint32_t length : {0u, 5u, 256u, 70000u}) {
    RecordingWriter writer;
    Bytes payload(length, 'p');
    ASSERT_TRUE(write_frame(writer, FrameKind::Json, as_bytes(payload)));
    EXPECT_EQ(writer.written, header('J', length) + payload) << length;
  }
}

TEST(WriteFrame, RetriesInterruptedAndShortWrites) {
  RecordingWriter writer;
  writer.max_chunk = 2;
  writer.interrupt_every_other = true;
  ASSERT_TRUE(write_frame(writer, FrameKind::Json, as_bytes("{\"a\":1}")));
  EXPECT_EQ(writer.written, header('J', 7) + "{\"a\":1}");
}

TEST(WriteFrame, FailureIsPassedOn) {
  RecordingWriter writer;
  writer.fail_with = IoErrorKind::BrokenPipe;
  auto written = write_frame(writer, FrameKind::Json, as_bytes("{}"));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().kind, IoErrorKind::BrokenPipe);
}

TEST(Frame, LargestPayloadRoundTripsAndOneMoreIsRefused) {
  Bytes payload(MAX_FRAME_LEN, '\0');
  for (std::size_t i = 0; i < payload.size(); i += 4093) payload[i] = static_cast<char>(i);
  RecordingWriter writer;
  ASSERT_TRUE(write_frame(writer, FrameKind::Stdout, as_bytes(payload)));
  EXPECT_EQ(writer.written.substr(0, 5), Bytes("1\x01\0\0\0", 5));

  ScriptedReader stream({writer.written.substr(0, 3), writer.written.substr(3)});
  Outcome outcome = read_all(stream);
  ASSERT_FALSE(outcome.error);
  ASSERT_EQ(outcome.frames.size(), 1u);
  EXPECT_TRUE(outcome.frames[0].second == payload);

  payload.push_back('x');
  RecordingWriter refused;
  auto written = write_frame(refused, FrameKind::Json, as_bytes(payload));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().kind, IoErrorKind::InvalidInput);
  EXPECT_EQ(written.error().text, "frame too large");
  EXPECT_TRUE(refused.written.empty());

  // In parts, the limit is on their sum: one frame, exactly as if joined.
  const std::string_view whole(payload);
  for (std::uint32_t cut : {0U, 1U, MAX_FRAME_LEN - 1}) {
    const ByteSpan parts[] = {as_bytes(whole.substr(0, cut)), as_bytes(whole.substr(cut, 1)),
                              as_bytes(whole.substr(cut + 1))};
    RecordingWriter joined;
    EXPECT_FALSE(write_frame(joined, FrameKind::Json, parts)) << cut;
    EXPECT_TRUE(joined.written.empty()) << cut;
    ASSERT_TRUE(write_frame(joined, FrameKind::Json, std::span(parts).first(2))) << cut;
    EXPECT_EQ(joined.written, header('J', cut + 1) + payload.substr(0, cut + 1)) << cut;
  }
}

Frame json_frame(std::string_view text) {
  return Frame{FrameKind::Json, {text.begin(), text.end()}};
}

TEST(DecodeJson, WholePayloadIsOneReply) {
  EXPECT_TRUE(decode_json(json_frame("{\"type\":\"activated\"}")));
  EXPECT_TRUE(decode_json(json_frame(" \t\r\n{\"type\":\"activated\"}\n  \r\t")));
  for (std::string_view bad : {"", "   ", "{\"type\":\"activated\"}{\"type\":\"activated\"}",
                               "{\"type\":\"activated\"} x", "{\"type\":\"activated\"}\v"}) {
    auto reply = decode_json(json_frame(bad));
    ASSERT_FALSE(reply) << bad;
    EXPECT_EQ(reply.error().kind, IoErrorKind::InvalidData) << bad;
    EXPECT_FALSE(reply.error().text.empty()) << bad;
  }
}

}  // namespace
}  // namespace sorvane
