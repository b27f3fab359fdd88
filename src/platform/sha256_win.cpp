#include <cstdlib>

#include "platform/bcrypt_provider_win.h"
#include "platform/sha256.h"

namespace sorvane {

Sha256Digest sha256(ByteSpan bytes) {
  Sha256Digest digest{};
  BcryptProvider provider;
  // BCryptHash takes a non-const input pointer but does not write through it.
  auto* input = const_cast<PUCHAR>(bytes.data());
  if (!provider.open(BCRYPT_SHA256_ALGORITHM) ||
      !BCRYPT_SUCCESS(BCryptHash(provider.get(), nullptr, 0, input,
                                 static_cast<ULONG>(bytes.size()), digest.data(),
                                 static_cast<ULONG>(digest.size())))) {
    std::abort();  // SHA-256 is in every supported Windows; a wrong pipe name would be worse
  }
  return digest;
}

}  // namespace sorvane
