#include "platform/current_user_win.h"

#include "platform/unique_handle_win.h"

namespace sorvane {
namespace {

// A security descriptor that the system allocated, released with LocalFree.
class LocalSecurityDescriptor {
 public:
  LocalSecurityDescriptor() = default;
  LocalSecurityDescriptor(const LocalSecurityDescriptor&) = delete;
  LocalSecurityDescriptor& operator=(const LocalSecurityDescriptor&) = delete;
  ~LocalSecurityDescriptor() { LocalFree(descriptor_); }
  PSECURITY_DESCRIPTOR* out() { return &descriptor_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

}  // namespace

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

Result<bool, int> owned_by_current_user(HANDLE object, SE_OBJECT_TYPE type) {
  LocalSecurityDescriptor descriptor;
  PSID owner = nullptr;
  const DWORD status = GetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                       nullptr, nullptr, descriptor.out());
  if (status != ERROR_SUCCESS) return fail(static_cast<int>(status));
  auto token_user = current_token_user();
  if (!token_user) return fail(token_user.error());
  if (owner == nullptr || !IsValidSid(owner)) return false;
  const auto* user = reinterpret_cast<const TOKEN_USER*>(token_user->data());
  return EqualSid(owner, user->User.Sid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
}

}  // namespace sorvane
