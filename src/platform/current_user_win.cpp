#include "platform/current_user_win.h"

#include <windows.h>

#include "platform/unique_handle_win.h"

namespace sorvane {

Result<std::vector<void*>, int> current_token_user() {
  HANDLE raw_token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw_token)) {
    return fail(static_cast<int>(GetLastError()));
  }
  const UniqueHandle token(raw_token);
  DWORD size = 0;
  (void)GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);  // learns the size
  std::vector<void*> buffer((size + sizeof(void*) - 1) / sizeof(void*) + 1);
  const DWORD capacity = static_cast<DWORD>(buffer.size() * sizeof(void*));
  if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), capacity, &size)) {
    return fail(static_cast<int>(GetLastError()));
  }
  return buffer;
}

}  // namespace sorvane
