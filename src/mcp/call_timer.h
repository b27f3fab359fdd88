// The clock of one tool call: it ends the conversation when the call's time
// limit passes, and beats at a steady interval meanwhile, so that a client
// that resets its own time-out on progress keeps waiting.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace sorvane::mcp {

class CallTimer {
 public:
  using Clock = std::chrono::steady_clock;

  struct Settings {
    Clock::duration limit{};       // zero: no limit
    bool idle = false;             // the limit counts from the last touch(), not the start
    Clock::duration beat_every{};  // zero: no beat
    std::function<void()> beat;    // on the timer's thread
    std::function<void()> expire;  // once, on the timer's thread; must not block
  };

  // Starts a thread only when there is something to time.
  explicit CallTimer(Settings settings);
  CallTimer(const CallTimer&) = delete;
  CallTimer& operator=(const CallTimer&) = delete;
  ~CallTimer();  // stops the clock and joins its thread

  // Something arrived: an idle limit starts again.
  void touch();
  bool expired() const;

 private:
  void run();

  Settings settings_;
  mutable std::mutex mutex_;
  std::condition_variable woken_;
  Clock::time_point limit_from_ = Clock::now();
  bool stopping_ = false;
  bool expired_ = false;
  std::thread thread_;  // last: starts once the members above exist
};

}  // namespace sorvane::mcp
