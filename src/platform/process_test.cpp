#include "platform/process.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

TEST(PosixExitStatus, KeepsLowBitsButNeverTurnsFailureIntoSuccess) {
  struct Case {
    std::uint32_t status;
    int expected;
  };
  const Case cases[] = {
      {0, 0},           {1, 1},           {42, 42},         {255, 255},
      {256, 1},         {300, 44},        {512, 1},         {0xFFFFFFFFu, 255},
      {0x80000000u, 1}, {0xFFFFFF00u, 1}, {0x12345601u, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(posix_exit_status(c.status), c.expected) << c.status;
  }
}

}  // namespace
}  // namespace sorvane
