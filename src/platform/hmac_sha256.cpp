#include "platform/hmac_sha256.h"

namespace sorvane {

bool hmac_sha256_matches(ByteSpan key, ByteSpan message, const HmacSha256Tag& tag) {
  const HmacSha256Tag expected = hmac_sha256(key, message);
  // Every byte is compared, whatever the first difference.
  std::uint8_t difference = 0;
  for (std::size_t i = 0; i < tag.size(); ++i) difference |= expected[i] ^ tag[i];
  return difference == 0;
}

}  // namespace sorvane
