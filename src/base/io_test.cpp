#include "base/io.h"

#include <gtest/gtest.h>

#include <vector>

namespace sorvane {
namespace {

// Takes at most `chunk` bytes per call; interrupts every other call.
class ChoppyWriter : public ByteWriter {
 public:
  explicit ChoppyWriter(std::size_t chunk) : chunk_(chunk) {}
  IoResult<std::size_t> write_some(ByteSpan bytes) override {
    if ((calls_++ % 2) == 0) return fail(IoError{IoErrorKind::Interrupted, "interrupted"});
    std::size_t n = std::min(chunk_, bytes.size());
    written.insert(written.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
  }
  std::vector<std::uint8_t> written;

 private:
  std::size_t chunk_;
  int calls_ = 0;
};

TEST(WriteAll, RetriesInterruptionsAndShortWrites) {
  ChoppyWriter writer(3);
  ASSERT_TRUE(write_all(writer, as_bytes("hello world")));
  EXPECT_EQ(std::string(writer.written.begin(), writer.written.end()), "hello world");
}

TEST(WriteAll, ZeroProgressIsAnError) {
  ChoppyWriter writer(0);
  auto result = write_all(writer, as_bytes("x"));
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().text, "failed to write whole buffer");
}

}  // namespace
}  // namespace sorvane
