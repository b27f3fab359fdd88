#include "base/deadline.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

TEST(Deadline, WaitsRoundUpSoThatNoneEndsShortOrSpins) {
  const auto now = Deadline::Clock::now();
  const auto in = [&](Deadline::Clock::duration left) { return Deadline::at(now + left); };
  struct Case {
    Deadline deadline;
    int wait_ms = 0;  // 0 exactly when expired
  };
  const Case cases[] = {
      {Deadline(), -1},
      {in(microseconds(1)), 1},
      {in(microseconds(1500)), 2},
      {in(milliseconds(0)), 0},
      {in(-milliseconds(5)), 0},
      {in(std::chrono::hours(24 * 365 * 100)), INT_MAX},
      {Deadline::earliest(in(milliseconds(9)), in(milliseconds(5))), 5},
      {Deadline::earliest(Deadline(), in(milliseconds(9))), 9},
      {Deadline::earliest(Deadline(), Deadline()), -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.deadline.wait_ms(now), c.wait_ms);
    EXPECT_EQ(c.deadline.expired(now), c.wait_ms == 0) << c.wait_ms;
  }
}

}  // namespace
}  // namespace sorvane
