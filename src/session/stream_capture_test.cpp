#include "session/stream_capture.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace sorvane {
namespace {

// Whatever the chunks, the capture holds the stream's first bytes and (with
// a tail) its last ones, and counts the rest.
TEST(StreamCapture, KeepsHeadOrHeadAndTailOfAnyChunking) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    const std::uint64_t limit = random() % 40;
    const bool tail = random() % 2 == 0;
    std::string stream(random() % 120, '\0');
    for (char& c : stream) c = static_cast<char>('a' + random() % 26);
    StreamCapture capture(limit,
                          tail ? StreamCapture::Keep::HeadAndTail : StreamCapture::Keep::Head);
    for (std::size_t at = 0; at < stream.size();) {
      const std::size_t size = std::min<std::size_t>(random() % 50, stream.size() - at);
      capture.append(as_bytes(std::string_view(stream).substr(at, size)));
      at += size;
    }
    std::string expected = stream;
    if (stream.size() > limit) {
      const std::size_t tail_size = tail ? limit / 2 : 0;
      expected = stream.substr(0, limit - tail_size) + stream.substr(stream.size() - tail_size);
    }
    ASSERT_EQ(capture.bytes(), expected) << "limit " << limit << " tail " << tail;
    EXPECT_EQ(capture.omitted(), stream.size() - expected.size());
    EXPECT_EQ(capture.truncated(), stream.size() > limit);
  }
}

TEST(StreamCapture, RepairsHeadAndTailApartWhereBytesWereCut) {
  StreamCapture capture(4, StreamCapture::Keep::HeadAndTail);
  capture.append(as_bytes(std::string_view("a\xC3xxxxx\xA9z")));
  EXPECT_EQ(capture.text(), "a\xEF\xBF\xBD\xEF\xBF\xBDz");  // no "é" made of both halves
}

}  // namespace
}  // namespace sorvane
