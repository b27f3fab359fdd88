#include "platform/hmac_sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace sorvane {
namespace {

std::string hex(const HmacSha256Tag& tag) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : tag) {
    text += DIGITS[byte >> 4];
    text += DIGITS[byte & 15];
  }
  return text;
}

// RFC 4231, test cases 2 (a key shorter than the hash) and 6 (a key longer
// than the block, hashed first).
TEST(HmacSha256, KnownAnswersAndTheirCheck) {
  const std::string long_key(131, '\xaa');
  const struct {
    std::string key, message, tag;
  } cases[] = {
      {"Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {long_key, "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
  };
  for (const auto& c : cases) {
    const HmacSha256Tag tag = hmac_sha256(as_bytes(c.key), as_bytes(c.message));
    EXPECT_EQ(hex(tag), c.tag);
    EXPECT_TRUE(hmac_sha256_matches(as_bytes(c.key), as_bytes(c.message), tag));
    HmacSha256Tag forged = tag;
    forged.back() ^= 1;
    EXPECT_FALSE(hmac_sha256_matches(as_bytes(c.key), as_bytes(c.message), forged));
  }
  EXPECT_NE(random_hmac_key(), random_hmac_key());
}

}  // namespace
}  // namespace sorvane
