#include <windows.h>
#include <bcrypt.h>

#include <cstdlib>

#include "platform/sha256.h"

namespace sorvane {

namespace {

// An open CNG algorithm provider, closed with BCryptCloseAlgorithmProvider.
class AlgorithmProvider {
 public:
  AlgorithmProvider() = default;
  AlgorithmProvider(const AlgorithmProvider&) = delete;
  AlgorithmProvider& operator=(const AlgorithmProvider&) = delete;
  ~AlgorithmProvider() {
    if (handle_ != nullptr) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  bool open(const wchar_t* algorithm) {
    return BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, 0));
  }
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

}  // namespace

Sha256Digest sha256(ByteSpan bytes) {
  Sha256Digest digest{};
  AlgorithmProvider provider;
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
