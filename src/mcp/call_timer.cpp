#include "mcp/call_timer.h"

#include <algorithm>

namespace sorvane::mcp {
namespace {

class SteadyTimerClock final : public TimerClock {
 public:
  Clock::time_point now() const override { return Clock::now(); }
  void sleep_until(std::unique_lock<std::mutex>& lock, std::condition_variable& woken,
                   Clock::time_point when) override {
    woken.wait_until(lock, when);
  }
};

}  // namespace

TimerClock& steady_timer_clock() {
  static SteadyTimerClock clock;
  return clock;
}

CallTimer::CallTimer(Settings settings)
    : settings_(std::move(settings)),
      clock_(settings_.clock != nullptr ? *settings_.clock : steady_timer_clock()),
      started_(clock_.now()),
      limit_from_(started_) {
  const bool limited = settings_.limit > Clock::duration::zero();
  const bool beating = settings_.beat_every > Clock::duration::zero() && settings_.beat;
  if (limited || beating) thread_ = std::thread([this] { run(); });
}

CallTimer::~CallTimer() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  woken_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void CallTimer::touch() {
  const std::lock_guard lock(mutex_);
  if (settings_.idle) limit_from_ = clock_.now();
}

bool CallTimer::expired() const {
  const std::lock_guard lock(mutex_);
  return expired_;
}

void CallTimer::run() {
  const bool limited = settings_.limit > Clock::duration::zero();
  const bool beating = settings_.beat_every > Clock::duration::zero() && settings_.beat;
  Clock::time_point next_beat = started_ + settings_.beat_every;
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    const Clock::time_point expiry = limit_from_ + settings_.limit;
    if (limited && clock_.now() >= expiry) {
      expired_ = true;
      lock.unlock();
      settings_.expire();
      return;  // the conversation ends now; nothing is left to time
    }
    if (beating && clock_.now() >= next_beat) {
      lock.unlock();
      settings_.beat();
      lock.lock();
      next_beat = clock_.now() + settings_.beat_every;
      continue;
    }
    Clock::time_point wake = Clock::time_point::max();
    if (limited) wake = expiry;
    if (beating) wake = std::min(wake, next_beat);
    clock_.sleep_until(lock, woken_, wake);
  }
}

}  // namespace sorvane::mcp
