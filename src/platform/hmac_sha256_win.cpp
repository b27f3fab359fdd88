#include <cstdlib>

#include "platform/bcrypt_provider_win.h"
#include "platform/hmac_sha256.h"

namespace sorvane {

HmacKey random_hmac_key() {
  HmacKey key{};
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, key.data(), static_cast<ULONG>(key.size()),
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    std::abort();  // a guessable key would let a client forge what it hands back
  }
  return key;
}

HmacSha256Tag hmac_sha256(ByteSpan key, ByteSpan message) {
  HmacSha256Tag tag{};
  BcryptProvider provider;
  // BCryptHash takes non-const pointers but does not write through them.
  auto* secret = const_cast<PUCHAR>(key.data());
  auto* input = const_cast<PUCHAR>(message.data());
  if (!provider.open(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG) ||
      !BCRYPT_SUCCESS(BCryptHash(provider.get(), secret, static_cast<ULONG>(key.size()), input,
                                 static_cast<ULONG>(message.size()), tag.data(),
                                 static_cast<ULONG>(tag.size())))) {
    std::abort();
  }
  return tag;
}

}  // namespace sorvane
