// Checks shared by the POSIX and Windows connection tests, on a real
// connection whose other end never answers and never reads. Short deadlines
// suffice: nothing ever arrives, so only the kind of failure is asserted.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "ipc/cancellation.h"
#include "ipc/connection.h"

namespace sorvane::testing {

inline void expect_reads_and_writes_time_out(PipeConnection& connection) {
  connection.set_deadline(Deadline::after(std::chrono::milliseconds(20)));
  std::uint8_t buffer[8];
  auto read = connection.read_some(buffer);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error().kind, IoErrorKind::TimedOut);

  connection.set_deadline(Deadline::after(std::chrono::milliseconds(20)));
  const std::string chunk(std::size_t{1} << 16, 'x');
  IoResult<void> written;
  while (written) written = write_all(connection, as_bytes(chunk));  // until the buffers are full
  EXPECT_EQ(written.error().kind, IoErrorKind::TimedOut);
}

// A cancellation ends a read long before its deadline, as the end of the stream.
inline void expect_cancel_ends_a_read_with_a_far_deadline(PipeConnection& connection) {
  connection.set_deadline(Deadline::after(std::chrono::hours(1)));
  Cancellation cancellation;
  const CancellationScope scope(&cancellation, connection);
  std::thread canceller([&] { cancellation.cancel(); });
  std::uint8_t buffer[8];
  auto read = connection.read_some(buffer);
  canceller.join();
  ASSERT_TRUE(read) << read.error().text;
  EXPECT_EQ(*read, 0u);
}

}  // namespace sorvane::testing
