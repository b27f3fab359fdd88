#include <sodium.h>

#include "platform/sha256.h"

namespace sorvane {

// crypto_hash_sha256_* need no sodium_init(): they use no random numbers and
// no CPU-specific code paths that init would select.
struct Sha256Hasher::State {
  crypto_hash_sha256_state library{};
};

Sha256Hasher::Sha256Hasher() : state_(std::make_unique<State>()) {
  crypto_hash_sha256_init(&state_->library);
}

Sha256Hasher::Sha256Hasher(Sha256Hasher&&) noexcept = default;
Sha256Hasher& Sha256Hasher::operator=(Sha256Hasher&&) noexcept = default;
Sha256Hasher::~Sha256Hasher() = default;

void Sha256Hasher::update(ByteSpan bytes) {
  crypto_hash_sha256_update(&state_->library, bytes.data(), bytes.size());
}

Sha256Digest Sha256Hasher::finish() {
  Sha256Digest digest{};
  crypto_hash_sha256_final(&state_->library, digest.data());
  return digest;
}

}  // namespace sorvane
