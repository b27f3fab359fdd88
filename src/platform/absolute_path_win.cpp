#include <windows.h>

#include <string>

#include "platform/absolute_path.h"
#include "platform/os_error.h"

namespace sorvane {

namespace {

bool is_verbatim(const NativePath& path) { return path.starts_with(L"\\\\?\\"); }

}  // namespace

IoResult<NativePath> make_absolute(const NativePath& path) {
  if (path.empty()) return fail(IoError{IoErrorKind::InvalidInput, std::string(EMPTY_PATH_TEXT)});
  if (is_verbatim(path)) return path;
  // The needed size can change between calls when another thread changes the
  // current directory, so ask until the answer fits.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) return fail(os_error(static_cast<int>(GetLastError())));
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(length);
  }
}

}  // namespace sorvane
