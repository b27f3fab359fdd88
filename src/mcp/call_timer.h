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

// Where a CallTimer reads the time and sleeps; tests move the time by hand.
class TimerClock {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~TimerClock() = default;
  virtual Clock::time_point now() const = 0;
  // Sleeps until `when` on this clock, or until `woken` is notified (or
  // spuriously, as a condition variable may): the caller checks again.
  virtual void sleep_until(std::unique_lock<std::mutex>& lock, std::condition_variable& woken,
                           Clock::time_point when) = 0;
};

// The steady clock, for real calls.
TimerClock& steady_timer_clock();

class CallTimer {
 public:
  using Clock = TimerClock::Clock;

  struct Settings {
    Clock::duration limit{};       // zero: no limit
    bool idle = false;             // the limit counts from the last touch(), not the start
    Clock::duration beat_every{};  // zero: no beat
    std::function<void()> beat;    // on the timer's thread
    std::function<void()> expire;  // once, on the timer's thread; must not block
    TimerClock* clock = nullptr;   // null: the steady clock
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
  TimerClock& clock_;
  mutable std::mutex mutex_;
  std::condition_variable woken_;
  const Clock::time_point started_;  // before the thread starts: it may start late
  Clock::time_point limit_from_;
  bool stopping_ = false;
  bool expired_ = false;
  std::thread thread_;  // last: starts once the members above exist
};

}  // namespace sorvane::mcp
