#include <windows.h>

#include "platform/os_error.h"
#include "text/utf8.h"

namespace sorvane {

IoError os_error(int code) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::u16string message;
  if (length != 0 && buffer != nullptr) {
    message.assign(reinterpret_cast<const char16_t*>(buffer), length);
  }
  if (buffer != nullptr) LocalFree(buffer);
  // FormatMessage ends its texts with ".\r\n"; keep the sentence, drop the line break.
  while (!message.empty() &&
         (message.back() == u'\n' || message.back() == u'\r' || message.back() == u' ')) {
    message.pop_back();
  }
  IoErrorKind kind = IoErrorKind::Os;
  if (code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA) kind = IoErrorKind::BrokenPipe;
  return {kind, text::utf16_to_utf8_lossy(message) + " (os error " + std::to_string(code) + ")"};
}

}  // namespace sorvane
