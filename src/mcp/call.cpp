#include "mcp/call.h"

#include <algorithm>
#include <utility>

namespace sorvane::mcp {

Call::Call(Settings settings) : settings_(std::move(settings)) {}

void Call::stop(Stop why) {
  {
    const std::lock_guard lock(mutex_);
    if (stopped_) return;
    stopped_ = why;
  }
  cancellation_.cancel();
  fleet_stop_.stop();
  if (settings_.stopped) settings_.stopped();
}

bool Call::stopped() const {
  const std::lock_guard lock(mutex_);
  return stopped_.has_value();
}

bool Call::cancelled() const {
  const std::lock_guard lock(mutex_);
  return stopped_ == Stop::Cancelled;
}

bool Call::timed_out() const {
  const std::lock_guard lock(mutex_);
  return stopped_ == Stop::TimedOut;
}

CallTimer::Settings Call::timer(Timing timing, std::function<std::uint64_t()> received) {
  CallTimer::Settings settings;
  settings.limit = timing.limit;
  settings.idle = timing.idle;
  if (timing.beating && settings_.beat) {
    settings.beat_every = HEARTBEAT_INTERVAL;
    settings.beat = [this, received = std::move(received)] { beat(received ? received() : 0); };
  }
  settings.expire = [this] { stop(Stop::TimedOut); };
  settings.clock = settings_.clock;
  return settings;
}

void Call::beat(std::uint64_t received) {
  std::uint64_t progress = 0;
  {
    const std::lock_guard lock(mutex_);
    if (stopped_) return;
    beaten_ = std::max(received, beaten_ + 1);
    progress = beaten_;
  }
  settings_.beat(progress, received);
}

}  // namespace sorvane::mcp
