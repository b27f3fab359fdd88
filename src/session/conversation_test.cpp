#include "session/conversation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace sorvane {
namespace {

std::string frame(char kind, std::string_view payload) {
  std::string bytes(1, kind);
  const auto length = static_cast<std::uint32_t>(payload.size());
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>(length >> shift));
  return bytes.append(payload);
}

// Opened once; a wait gives up after a minute so that a fault fails the test
// instead of hanging it.
class Gate {
 public:
  void open() {
    const std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }
  bool wait() {
    std::unique_lock lock(mutex_);
    return opened_.wait_for(lock, std::chrono::minutes(1), [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

// Sends one output frame, then its final reply only once `before_reply`
// is open.
class Peer final : public ByteReader, public ByteWriter {
 public:
  Peer(const std::string& output, int code, Gate& before_reply)
      : output_(frame('1', output)),
        reply_(frame('J', R"({"type":"exit","code":)" + std::to_string(code) + "}")),
        before_reply_(before_reply) {}

  IoResult<std::size_t> read_some(MutableByteSpan buffer) override {
    if (output_.empty() && !waited_) {
      if (!before_reply_.wait()) return 0;  // gave up: an end of file fails the conversation
      waited_ = true;
    }
    std::string& next = output_.empty() ? reply_ : output_;
    const std::size_t n = std::min(buffer.size(), next.size());
    std::copy_n(next.data(), n, buffer.data());
    next.erase(0, n);
    return n;
  }
  IoResult<std::size_t> write_some(ByteSpan bytes) override { return bytes.size(); }

 private:
  std::string output_;
  std::string reply_;
  Gate& before_reply_;
  bool waited_ = false;
};

class Collected final : public ConversationEvents {
 public:
  explicit Collected(Gate& on_output) : on_output_(on_output) {}
  IoResult<void> output(RemoteStream, ByteSpan chunk) override {
    text.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    on_output_.open();
    return {};
  }
  std::string text;

 private:
  Gate& on_output_;
};

// Each conversation holds its final reply back until the other has had its
// output, so both are open at once; each gets its own output and reply.
TEST(Conversation, SeveralRunSideBySide) {
  std::array<Gate, 2> had_output;
  std::array<Peer, 2> peers{Peer("first", 1, had_output[1]), Peer("second", 2, had_output[0])};
  std::array<Collected, 2> events{Collected(had_output[0]), Collected(had_output[1])};
  std::array<FinalReply, 2> replies{fail(connection_broken("")), fail(connection_broken(""))};
  {
    std::array<std::jthread, 2> threads;
    for (std::size_t i = 0; i < threads.size(); ++i) {
      threads[i] = std::jthread([&, i] {
        replies[i] = converse(peers[i], peers[i], Request{Request::Exec{"h", "x"}}, events[i]);
      });
    }
  }
  EXPECT_EQ(events[0].text, "first");
  EXPECT_EQ(events[1].text, "second");
  for (std::size_t i = 0; i < replies.size(); ++i) {
    ASSERT_TRUE(replies[i]) << replies[i].error().message;
    EXPECT_EQ(std::get<Reply::Exit>(replies[i]->value).code, static_cast<int>(i) + 1);
  }
}

}  // namespace
}  // namespace sorvane
