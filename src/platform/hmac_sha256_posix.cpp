#include <sodium.h>

#include <cstdlib>

#include "platform/hmac_sha256.h"

namespace sorvane {

HmacKey random_hmac_key() {
  // randombytes needs the library initialised; repeated calls are cheap and safe.
  if (sodium_init() < 0) std::abort();
  HmacKey key{};
  randombytes_buf(key.data(), key.size());
  return key;
}

HmacSha256Tag hmac_sha256(ByteSpan key, ByteSpan message) {
  // The streaming form takes a key of any length; crypto_auth_hmacsha256
  // alone wants exactly 32 bytes.
  crypto_auth_hmacsha256_state state;
  HmacSha256Tag tag{};
  if (crypto_auth_hmacsha256_init(&state, key.data(), key.size()) != 0 ||
      crypto_auth_hmacsha256_update(&state, message.data(), message.size()) != 0 ||
      crypto_auth_hmacsha256_final(&state, tag.data()) != 0) {
    std::abort();
  }
  sodium_memzero(&state, sizeof state);
  return tag;
}

}  // namespace sorvane
