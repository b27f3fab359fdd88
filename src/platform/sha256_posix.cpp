#include <sodium.h>

#include "platform/sha256.h"

namespace sorvane {

Sha256Digest sha256(ByteSpan bytes) {
  // crypto_hash_sha256 needs no sodium_init(): it uses no random numbers and
  // no CPU-specific code paths that init would select.
  Sha256Digest digest{};
  crypto_hash_sha256(digest.data(), bytes.data(), bytes.size());
  return digest;
}

}  // namespace sorvane
