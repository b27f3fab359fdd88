// SHA-256 (FIPS 180-4) from the platform's crypto library.
#pragma once

#include <array>
#include <cstdint>

#include "base/io.h"

namespace sorvane {

using Sha256Digest = std::array<std::uint8_t, 32>;

// Never fails on a working system: the hash is part of the system's crypto
// library on Windows and of libsodium elsewhere. If the library is broken the
// process aborts rather than derive a wrong name.
Sha256Digest sha256(ByteSpan bytes);

}  // namespace sorvane
