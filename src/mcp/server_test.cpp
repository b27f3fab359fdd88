#include "mcp/server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sorvane::mcp {
namespace {

using namespace std::chrono_literals;

// Standard output as whole messages, for a test thread to wait on.
class Messages final : public OutputStream {
 public:
  IoResult<void> write_all(ByteSpan bytes) override {
    const std::lock_guard lock(mutex_);
    text_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    arrived_.notify_all();
    return {};
  }
  IoResult<void> flush() override { return {}; }

  // The messages so far, once there are at least `count`.
  std::vector<Json> wait_for(std::size_t count) {
    std::unique_lock lock(mutex_);
    arrived_.wait(lock, [&] { return lines() >= count; });
    return parsed();
  }
  // Once a message with this id has come.
  void wait_for_id(int id) {
    const std::string seen = R"("id":)" + std::to_string(id) + ",";
    std::unique_lock lock(mutex_);
    arrived_.wait(lock, [&] { return text_.find(seen) != std::string::npos; });
  }
  std::vector<Json> parsed() const {
    std::vector<Json> messages;
    std::size_t start = 0;
    for (std::size_t end = text_.find('\n'); end != std::string::npos;
         start = end + 1, end = text_.find('\n', start)) {
      messages.push_back(Json::parse(text_.substr(start, end - start)));
    }
    return messages;
  }

 private:
  std::size_t lines() const {
    return static_cast<std::size_t>(std::count(text_.begin(), text_.end(), '\n'));
  }

  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::string text_;
};

class NoDiagnostics final : public OutputStream {
 public:
  IoResult<void> write_all(ByteSpan) override { return {}; }
  IoResult<void> flush() override { return {}; }
};

// A desktop application whose conversations (exec only) block until the test
// opens the gate or the call is cancelled, and which counts how many ran and
// how many ran at once.
class HeldDesktop {
 public:
  CallConverse converse() {
    return [this](const Request&, ConversationEvents&, Cancellation& cancellation) -> FinalReply {
      std::unique_lock lock(mutex_);
      ++started_;
      most_at_once_ = std::max(most_at_once_, ++running_);
      changed_.notify_all();
      // Cancellation wakes no one here (it shuts a connection down), so look.
      while (!open_ && !cancellation.cancelled()) changed_.wait_for(lock, 1ms);
      --running_;
      if (cancellation.cancelled()) return fail(connection_broken("cancelled"));
      return Reply{Reply::Exit{0}};
    };
  }
  void open_gate() {
    const std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void wait_running(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return running_ == count; });
  }
  int started() const {
    const std::lock_guard lock(mutex_);
    return started_;
  }
  int most_at_once() const {
    const std::lock_guard lock(mutex_);
    return most_at_once_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  int started_ = 0;
  int running_ = 0;
  int most_at_once_ = 0;
};

std::string call(int id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"tools/call","params":{"name":"exec","arguments":{"host":"h","command":"x"}}})";
}
std::string cancel(int id) {
  return R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":)" +
         std::to_string(id) + "}}";
}

class ServerTest : public ::testing::Test {
 protected:
  void start(std::size_t max_calls) {
    Options options;
    options.max_calls = max_calls;
    server_.emplace(std::move(options), writer_, desktop_.converse());
    server_->handle_line(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{}})");
    messages_.wait_for(1);
  }
  // The answers to the calls, by id (the initialize answer is left out).
  std::vector<Json> answers(std::size_t count) {
    auto all = messages_.wait_for(count + 1);
    all.erase(all.begin());
    return all;
  }
  static std::vector<int> ids(const std::vector<Json>& answers) {
    std::vector<int> found;
    found.reserve(answers.size());
    for (const Json& answer : answers) found.push_back(answer["id"].get<int>());
    return found;
  }

  Messages messages_;
  NoDiagnostics diagnostics_;
  MessageWriter writer_{messages_, diagnostics_};
  HeldDesktop desktop_;
  std::optional<Server> server_;
};

TEST_F(ServerTest, CallsPastTheLimitWaitTheirTurnAndAllFinish) {
  start(2);
  for (int id = 1; id <= 5; ++id) server_->handle_line(call(id));
  desktop_.wait_running(2);
  desktop_.open_gate();
  auto done = answers(5);
  std::sort(done.begin(), done.end(),
            [](const Json& a, const Json& b) { return a["id"] < b["id"]; });
  EXPECT_EQ(ids(done), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(desktop_.most_at_once(), 2);
}

TEST_F(ServerTest, ACallCancelledWhileWaitingNeverRunsNorAnswers) {
  start(1);
  server_->handle_line(call(1));
  desktop_.wait_running(1);
  server_->handle_line(call(2));  // waits behind 1
  server_->handle_line(cancel(2));
  server_->handle_line(call(3));  // runs after 2 would have
  desktop_.open_gate();
  EXPECT_EQ(ids(answers(2)), (std::vector<int>{1, 3}));
  EXPECT_EQ(desktop_.started(), 2);
}

TEST_F(ServerTest, ADuplicateIdIsRefusedWhileTheFirstRuns) {
  start(4);
  server_->handle_line(call(1));
  desktop_.wait_running(1);
  server_->handle_line(call(1));
  const auto refused = answers(1);
  EXPECT_EQ(refused[0]["error"]["code"], -32600);
  desktop_.open_gate();
  const auto both = answers(2);
  EXPECT_EQ(both[1]["id"], 1);
  EXPECT_FALSE(both[1]["result"]["isError"].get<bool>());
}

TEST_F(ServerTest, EndOfInputCancelsRunningAndWaitingCallsWithoutAnswers) {
  start(2);
  for (int id = 1; id <= 4; ++id) server_->handle_line(call(id));
  desktop_.wait_running(2);
  server_->cancel_all();
  server_.reset();                           // joins every thread of the pool
  EXPECT_EQ(messages_.parsed().size(), 1U);  // the initialize answer only
  EXPECT_EQ(desktop_.started(), 2);
}

// A result and a cancellation of the same call race: one of them wins, never
// both.
TEST_F(ServerTest, AResultRacingItsCancellationIsSentAtMostOnce) {
  start(4);
  desktop_.open_gate();
  constexpr int ROUNDS = 300;
  for (int id = 1; id <= ROUNDS; ++id) {
    server_->handle_line(call(id));
    server_->handle_line(cancel(id));
  }
  server_->handle_line(call(ROUNDS + 1));
  messages_.wait_for_id(ROUNDS + 1);
  server_.reset();
  std::vector<int> answered = ids(messages_.parsed());
  std::sort(answered.begin(), answered.end());
  EXPECT_EQ(std::adjacent_find(answered.begin(), answered.end()), answered.end());
  EXPECT_EQ(answered.back(), ROUNDS + 1);
}

}  // namespace
}  // namespace sorvane::mcp
