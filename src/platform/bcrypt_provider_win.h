// An open CNG algorithm provider, closed with BCryptCloseAlgorithmProvider.
#pragma once

#include <windows.h>
#include <bcrypt.h>

namespace sorvane {

class BcryptProvider {
 public:
  BcryptProvider() = default;
  BcryptProvider(const BcryptProvider&) = delete;
  BcryptProvider& operator=(const BcryptProvider&) = delete;
  ~BcryptProvider() {
    if (handle_ != nullptr) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  // `flags`: BCRYPT_ALG_HANDLE_HMAC_FLAG for an HMAC of the hash `algorithm`.
  bool open(const wchar_t* algorithm, ULONG flags = 0) {
    return BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, flags));
  }
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

}  // namespace sorvane
