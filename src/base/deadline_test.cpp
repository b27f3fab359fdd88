#include "base/deadline.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

TEST(Deadline, WaitsAreRoundedUpSoThatNoneEndsShortOrSpins) {
  const auto now = Deadline::Clock::now();
  struct Case {
    Deadline deadline;
    int wait_ms = 0;
    bool expired = false;
  };
  const Case cases[] = {
      {Deadline(), -1, false},
      {Deadline::at(now + microseconds(1)), 1, false},
      {Deadline::at(now + microseconds(1500)), 2, false},
      {Deadline::at(now + milliseconds(7)), 7, false},
      {Deadline::at(now), 0, true},
      {Deadline::at(now - milliseconds(5)), 0, true},
      {Deadline::at(now + std::chrono::hours(24 * 365 * 100)), INT_MAX, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.deadline.wait_ms(now), c.wait_ms);
    EXPECT_EQ(c.deadline.expired(now), c.expired) << c.wait_ms;
  }
}

TEST(Deadline, EarliestIsNeverOnlyWhenBothAre) {
  const auto now = Deadline::Clock::now();
  const Deadline soon = Deadline::at(now + milliseconds(5));
  const Deadline later = Deadline::at(now + milliseconds(9));
  EXPECT_EQ(Deadline::earliest(soon, later).wait_ms(now), 5);
  EXPECT_EQ(Deadline::earliest(later, soon).wait_ms(now), 5);
  EXPECT_EQ(Deadline::earliest(Deadline(), later).wait_ms(now), 9);
  EXPECT_EQ(Deadline::earliest(soon, Deadline()).wait_ms(now), 5);
  EXPECT_TRUE(Deadline::earliest(Deadline(), Deadline()).never());
}

}  // namespace
}  // namespace sorvane
