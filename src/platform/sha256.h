// SHA-256 (FIPS 180-4) from the platform's crypto library.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "base/io.h"

namespace sorvane {

using Sha256Digest = std::array<std::uint8_t, 32>;

// Never fails on a working system: the hash is part of the system's crypto
// library on Windows and of libsodium elsewhere. If the library is broken the
// process aborts rather than derive a wrong name.
Sha256Digest sha256(ByteSpan bytes);

// The same hash over bytes that come in pieces, without holding them.
class Sha256Hasher {
 public:
  Sha256Hasher();
  Sha256Hasher(Sha256Hasher&&) noexcept;
  Sha256Hasher& operator=(Sha256Hasher&&) noexcept;
  Sha256Hasher(const Sha256Hasher&) = delete;
  Sha256Hasher& operator=(const Sha256Hasher&) = delete;
  ~Sha256Hasher();

  void update(ByteSpan bytes);
  // The digest of everything given; the hasher is spent.
  Sha256Digest finish();

 private:
  struct State;  // the library's, per platform
  std::unique_ptr<State> state_;
};

}  // namespace sorvane
