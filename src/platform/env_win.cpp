#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "platform/env.h"

namespace sorvane {

std::optional<NativeString> environment_variable(NativeStringView name) {
  const NativeString terminated(name);
  std::wstring value(64, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableW(terminated.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      // Zero is both "not defined" and "defined but empty"; the error tells them apart.
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::wstring();
    }
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);  // too small: `length` counts the terminating zero
  }
}

namespace {

// The buffer the shell hands out, released with CoTaskMemFree on every path.
class CoTaskString {
 public:
  CoTaskString() = default;
  CoTaskString(const CoTaskString&) = delete;
  CoTaskString& operator=(const CoTaskString&) = delete;
  ~CoTaskString() { CoTaskMemFree(text_); }
  PWSTR* out() { return &text_; }
  const wchar_t* get() const { return text_; }

 private:
  PWSTR text_ = nullptr;
};

}  // namespace

std::optional<NativePath> user_data_folder() {
  CoTaskString path;
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, path.out());
  if (FAILED(result) || path.get() == nullptr) return std::nullopt;
  return NativePath(path.get());
}

NativePath append_path_component(NativePath folder, NativeStringView component) {
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  folder += component;
  return folder;
}

}  // namespace sorvane
