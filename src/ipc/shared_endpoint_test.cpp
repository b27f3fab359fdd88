#include "ipc/shared_endpoint.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace sorvane {
namespace {

constexpr int BUSY = 1;
constexpr int MISSING = 2;

// An endpoint that serves `capacity` connections at once. A wait for a free
// instance ends when one is freed, or, with `waits_end_at_once`, at once (as
// when someone else holds the endpoint for longer than each wait).
class CountedPipes final : public PipeSystem {
 public:
  explicit CountedPipes(int capacity) : capacity_(capacity) {}

  Result<std::unique_ptr<PipeConnection::Handle>, int> open(std::string_view,
                                                            const Deadline&) override {
    const std::lock_guard lock(mutex_);
    ++opens;
    if (in_use_ == capacity_) return fail(missing_while_busy ? MISSING : BUSY);
    most_at_once = std::max(most_at_once, ++in_use_);
    return std::unique_ptr<PipeConnection::Handle>(std::make_unique<Instance>(*this));
  }
  OpenFailure classify(int code) const override {
    return code == BUSY ? OpenFailure::Busy : OpenFailure::NotRunning;
  }
  void wait_busy(std::string_view, int milliseconds) override {
    std::unique_lock lock(mutex_);
    ++usual_waits;
    if (waits_end_at_once) return;
    freed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                    [this] { return in_use_ < capacity_; });
  }
  Result<bool, int> owner_accepted(PipeConnection::Handle&) override { return true; }

  int opened_so_far() {
    const std::lock_guard lock(mutex_);
    return opens;
  }

  bool waits_end_at_once = false;
  bool missing_while_busy = false;  // no instance listens while all are taken
  int opens = 0;
  int usual_waits = 0;
  int most_at_once = 0;

 private:
  class Instance final : public PipeConnection::Handle {
   public:
    explicit Instance(CountedPipes& pipes) : pipes_(pipes) {}
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    ~Instance() override {
      {
        const std::lock_guard lock(pipes_.mutex_);
        --pipes_.in_use_;
      }
      pipes_.freed_.notify_all();
    }
    IoResult<std::size_t> read_some(MutableByteSpan) override { return std::size_t{0}; }
    IoResult<std::size_t> write_some(ByteSpan bytes) override { return bytes.size(); }
    void shut_down() noexcept override {}

   private:
    CountedPipes& pipes_;
  };

  std::mutex mutex_;
  std::condition_variable freed_;
  int capacity_;
  int in_use_ = 0;
};

using Opened = Result<SharedEndpoint::Conversation, ConnectError>;

// While one of ours holds the only instance, another waits for it to end,
// however long that takes, instead of giving up after the usual waits; the
// same when the endpoint shows as missing meanwhile.
TEST(SharedEndpoint, WaitsForOneOfOursToEndInsteadOfFailing) {
  for (const bool missing : {false, true}) {
    CountedPipes pipes(1);
    pipes.waits_end_at_once = true;
    pipes.missing_while_busy = missing;
    SharedEndpoint endpoint("p", pipes);
    auto first = std::make_unique<Opened>(endpoint.open());
    ASSERT_TRUE(*first);
    std::atomic<bool> second_opened = false;
    std::thread second([&] { second_opened = endpoint.open().has_value(); });
    while (pipes.opened_so_far() < 2) std::this_thread::yield();  // it found the endpoint taken
    first.reset();
    second.join();
    EXPECT_TRUE(second_opened) << missing;
    EXPECT_EQ(pipes.usual_waits, 0) << missing;
  }
}

// With none of ours open, a busy endpoint is someone else's: the usual waits
// and then the failure, as connect() gives them.
TEST(SharedEndpoint, SomeoneElsesBusyEndpointFailsAfterTheUsualWaits) {
  CountedPipes pipes(0);
  pipes.waits_end_at_once = true;
  SharedEndpoint endpoint("p", pipes);
  auto opened = endpoint.open();
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().kind, ConnectErrorKind::Io);
  EXPECT_EQ(pipes.usual_waits, BUSY_WAITS);

  pipes.missing_while_busy = true;
  auto missing = endpoint.open();
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind, ConnectErrorKind::NotRunning);
}

TEST(SharedEndpoint, ManyConversationsOnAnEndpointThatServesOneAtATime) {
  CountedPipes pipes(1);
  SharedEndpoint endpoint("p", pipes);
  std::atomic<int> failed = 0;
  std::vector<std::thread> threads;
  threads.reserve(16);
  for (int i = 0; i < 16; ++i) {
    threads.emplace_back([&] {
      for (int round = 0; round < 20; ++round) {
        if (!endpoint.open()) ++failed;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(pipes.most_at_once, 1);
}

}  // namespace
}  // namespace sorvane
