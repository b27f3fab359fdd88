// The moment at which a wait on something outside the process gives up. A
// default Deadline never comes: the wait lasts as long as the other side
// takes, which is what a command that runs for hours needs.
#pragma once

#include <algorithm>
#include <chrono>
#include <climits>
#include <optional>

namespace sorvane {

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  Deadline() = default;
  static Deadline at(Clock::time_point when) { return Deadline(when); }
  static Deadline after(Clock::duration timeout) { return Deadline(Clock::now() + timeout); }

  // Whichever comes first; never only when both never come.
  static Deadline earliest(const Deadline& a, const Deadline& b) {
    if (a.never()) return b;
    if (b.never()) return a;
    return Deadline(std::min(*a.when_, *b.when_));
  }

  bool never() const { return !when_.has_value(); }
  bool expired(Clock::time_point now = Clock::now()) const { return when_ && now >= *when_; }

  // What is left, for waits that take milliseconds: rounded up, so that a
  // wait does not end just short of the deadline and spin; at least 1 until
  // it has passed, 0 after; -1 when it never comes.
  int wait_ms(Clock::time_point now = Clock::now()) const {
    if (!when_) return -1;
    if (now >= *when_) return 0;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*when_ - now).count();
    return static_cast<int>(std::min<decltype(left)>(left, INT_MAX));
  }

 private:
  explicit Deadline(Clock::time_point when) : when_(when) {}

  std::optional<Clock::time_point> when_;
};

}  // namespace sorvane
