#include <cstdlib>

#include "platform/bcrypt_provider_win.h"
#include "platform/sha256.h"

namespace sorvane {

// An open CNG algorithm provider and a hash object on it, each closed once.
// SHA-256 is in every supported Windows: a failure means a broken system,
// where aborting is better than a wrong digest.
struct Sha256Hasher::State {
  State() {
    if (!provider.open(BCRYPT_SHA256_ALGORITHM) ||
        !BCRYPT_SUCCESS(BCryptCreateHash(provider.get(), &hash, nullptr, 0, nullptr, 0, 0))) {
      std::abort();
    }
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    if (hash != nullptr) BCryptDestroyHash(hash);
  }

  BcryptProvider provider;  // destroyed after the hash object made on it
  BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256Hasher::Sha256Hasher() : state_(std::make_unique<State>()) {}

Sha256Hasher::Sha256Hasher(Sha256Hasher&&) noexcept = default;
Sha256Hasher& Sha256Hasher::operator=(Sha256Hasher&&) noexcept = default;
Sha256Hasher::~Sha256Hasher() = default;

void Sha256Hasher::update(ByteSpan bytes) {
  constexpr std::size_t LARGEST = std::size_t{1} << 30;
  while (!bytes.empty()) {
    const std::size_t size = bytes.size() < LARGEST ? bytes.size() : LARGEST;
    // BCryptHashData takes a non-const input pointer but does not write through it.
    auto* input = const_cast<PUCHAR>(bytes.data());
    if (!BCRYPT_SUCCESS(BCryptHashData(state_->hash, input, static_cast<ULONG>(size), 0))) {
      std::abort();
    }
    bytes = bytes.subspan(size);
  }
}

Sha256Digest Sha256Hasher::finish() {
  Sha256Digest digest{};
  if (!BCRYPT_SUCCESS(
          BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0))) {
    std::abort();
  }
  return digest;
}

}  // namespace sorvane
