#include "output/spilled_output.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace sorvane {
namespace {

std::string replayed(const SpilledStream& stream, std::uint64_t limit = UINT64_MAX) {
  std::string bytes;
  auto done = stream.replay(
      [&bytes](ByteSpan piece) -> IoResult<void> {
        bytes.append(reinterpret_cast<const char*>(piece.data()), piece.size());
        return {};
      },
      limit);
  EXPECT_TRUE(done) << done.error().text;
  return bytes;
}

// Several streams filled at once in chunks of every size, through one
// real temporary file: each reads back as it came, whatever was kept in
// memory and whatever was written out, and its digest is the one-shot hash.
TEST(SpilledOutput, StreamsReadBackAsTheyCame) {
  std::mt19937 random(24);
  SpillFile file;
  const std::vector<std::size_t> sizes = {
      0, 5, KEPT_IN_MEMORY, KEPT_IN_MEMORY + 1, SPILL_BLOCK - 1, SPILL_BLOCK, 5 * SPILL_BLOCK + 3};
  std::vector<SpilledStream> streams;
  for (std::size_t i = 0; i < sizes.size(); ++i) streams.emplace_back(file);
  std::vector<std::string> sent(sizes.size());
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    sent[i].resize(sizes[i]);
    for (char& c : sent[i]) c = static_cast<char>(random());
  }
  std::vector<std::size_t> at(sizes.size(), 0);
  for (bool more = true; more;) {
    more = false;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      const std::size_t chunk =
          std::min<std::size_t>(random() % (2 * SPILL_BLOCK), sizes[i] - at[i]);
      ASSERT_TRUE(streams[i].append(as_bytes(std::string_view(sent[i]).substr(at[i], chunk))));
      at[i] += chunk;
      more = more || at[i] < sizes[i];
    }
  }
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    ASSERT_TRUE(streams[i].finish());
    EXPECT_EQ(replayed(streams[i]), sent[i]) << "stream of " << sizes[i];
    EXPECT_EQ(replayed(streams[i], 7), sent[i].substr(0, 7));
    EXPECT_EQ(streams[i].digest(), sha256(as_bytes(sent[i])));
  }
  // Equal bytes, however they were cut and wherever they lie.
  SpilledStream copy(file);
  ASSERT_TRUE(copy.append(as_bytes(sent.back())));
  ASSERT_TRUE(copy.finish());
  EXPECT_TRUE(copy.same_bytes(streams.back()));
  EXPECT_FALSE(copy.same_bytes(streams[sizes.size() - 2]));
  sent.back().back() ^= 1;
  SpilledStream changed(file);
  ASSERT_TRUE(changed.append(as_bytes(sent.back())));
  ASSERT_TRUE(changed.finish());
  EXPECT_FALSE(changed.same_bytes(streams.back()));
}

TEST(SpilledOutput, AFileThatCannotBeMadeFailsTheStreamThatNeedsIt) {
  SpillFile file([]() -> IoResult<std::unique_ptr<TempFile>> {
    return fail(IoError{IoErrorKind::Os, "No space left on device (os error 28)"});
  });
  SpilledStream short_one(file);
  ASSERT_TRUE(short_one.append(as_bytes("uptime")));
  EXPECT_TRUE(short_one.finish());  // never needed the file
  SpilledStream long_one(file);
  ASSERT_TRUE(long_one.append(as_bytes("kept ")));
  const std::string block(SPILL_BLOCK, 'x');
  const auto appended = long_one.append(as_bytes(block));
  ASSERT_FALSE(appended);
  EXPECT_EQ(appended.error().text, "No space left on device (os error 28)");
  // What it holds is what it had before, and reads back as such.
  (void)long_one.finish();
  EXPECT_EQ(replayed(long_one), "kept ");
}

}  // namespace
}  // namespace sorvane
