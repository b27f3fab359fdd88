// For tests: a TimerClock that moves only when the test moves it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "mcp/call_timer.h"

namespace sorvane::mcp {

// A clock that moves only when the test moves it, and then waits for the
// timer to look at the new time, so that no outcome depends on how fast
// either thread runs.
class ManualClock final : public TimerClock {
 public:
  Clock::time_point now() const override { return Clock::time_point(Clock::duration(at_.load())); }
  void sleep_until(std::unique_lock<std::mutex>& lock, std::condition_variable& woken,
                   Clock::time_point) override {
    {
      const std::lock_guard counting(mutex_);
      ++sleeps_;
    }
    looked_.notify_all();
    woken.wait_for(lock, std::chrono::milliseconds(1));  // then the timer looks again
  }

  // Returns once the timer has decided on the new time: the second sleep
  // that starts after the move follows a look at the moved clock.
  void advance(Clock::duration by) {
    std::unique_lock lock(mutex_);
    at_ += by.count();
    const std::uint64_t before = sleeps_;
    // Bounded only so that a broken timer fails the test instead of hanging it.
    looked_.wait_for(lock, std::chrono::seconds(60),
                     [&] { return stopped_ || sleeps_ >= before + 2; });
  }
  // The timer has ended the call: it will not look again.
  void stop() {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    looked_.notify_all();
  }

 private:
  std::atomic<Clock::rep> at_{0};
  std::mutex mutex_;
  std::condition_variable looked_;
  std::uint64_t sleeps_ = 0;
  bool stopped_ = false;
};

}  // namespace sorvane::mcp
