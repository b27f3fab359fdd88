#include <windows.h>

#include <thread>
#include <vector>

#include "platform/current_user_win.h"
#include "platform/os_error.h"
#include "platform/private_log.h"
#include "platform/unique_handle_win.h"

namespace sorvane {
namespace {

IoError last_error() { return os_error(static_cast<int>(GetLastError())); }

// A DACL with one entry, full access for the current user, and no entries
// inherited from the folder.
class OwnerOnlySecurity {
 public:
  IoResult<void> build() {
    auto user = current_token_user();
    if (!user) return fail(os_error(user.error()));
    user_ = std::move(*user);
    PSID sid = reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid;
    const DWORD size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid);
    acl_.resize(size / sizeof(void*) + 1);
    auto* acl = reinterpret_cast<PACL>(acl_.data());
    if (!InitializeAcl(acl, size, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
        !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      return fail(last_error());
    }
    attributes_ = {sizeof(SECURITY_ATTRIBUTES), &descriptor_, FALSE};
    return {};
  }
  SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

 private:
  std::vector<void*> user_;
  std::vector<void*> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

// One byte far past any data, so the lock never stands in a reader's way.
OVERLAPPED lock_position() {
  OVERLAPPED where{};
  where.Offset = 0xFFFFFFFF;
  where.OffsetHigh = 0x7FFFFFFF;
  return where;
}

class LockForAWhile {
 public:
  explicit LockForAWhile(HANDLE file) : file_(file) {
    const auto deadline = std::chrono::steady_clock::now() + LOG_LOCK_WAIT;
    for (;;) {
      OVERLAPPED where = lock_position();
      locked_ = LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                           &where) != 0;
      if (locked_ || std::chrono::steady_clock::now() > deadline) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  LockForAWhile(const LockForAWhile&) = delete;
  LockForAWhile& operator=(const LockForAWhile&) = delete;
  ~LockForAWhile() {
    OVERLAPPED where = lock_position();
    if (locked_) UnlockFileEx(file_, 0, 1, 0, &where);
  }

 private:
  HANDLE file_;
  bool locked_ = false;
};

IoResult<void> read_at(HANDLE file, std::uint64_t offset, MutableByteSpan bytes) {
  while (!bytes.empty()) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
    DWORD got = 0;
    if (!ReadFile(file, bytes.data(), wanted, &got, &where)) return fail(last_error());
    if (got == 0) return fail(IoError{IoErrorKind::UnexpectedEof, "the file became shorter"});
    bytes = bytes.subspan(got);
    offset += got;
  }
  return {};
}

IoError refused(std::string_view why) {
  return IoError{IoErrorKind::InvalidInput, std::string(why)};
}

// What the name led to, checked on the open file itself: a file on disk,
// not a link or another reparse point, of the current user.
IoResult<void> check_private(HANDLE file) {
  if (GetFileType(file) != FILE_TYPE_DISK) return fail(refused("is not a regular file"));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return fail(last_error());
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return fail(refused("is a symbolic link or another reparse point"));
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return fail(refused("is not a regular file"));
  }
  auto owned = owned_by_current_user(file, SE_FILE_OBJECT);
  if (!owned) return fail(os_error(owned.error()));
  if (!*owned) return fail(refused("is not owned by the current user"));
  return {};
}

}  // namespace

IoResult<void> append_to_private_log(
    const NativePath& path,
    const std::function<std::string(std::string_view last_line)>& next_line) {
  OwnerOnlySecurity security;
  if (auto built = security.build(); !built) return built;
  // Append access without write access: every write lands at the end. A
  // link is opened as itself, and refused, rather than followed.
  const UniqueHandle file(
      CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | READ_CONTROL | SYNCHRONIZE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, security.attributes(), OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) return fail(last_error());
  if (auto checked = check_private(file.get()); !checked) return checked;
  const LockForAWhile lock(file.get());
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return fail(last_error());
  auto last = read_last_line(static_cast<std::uint64_t>(size.QuadPart),
                             [&](std::uint64_t offset, MutableByteSpan bytes) {
                               return read_at(file.get(), offset, bytes);
                             });
  if (!last) return fail(std::move(last).error());
  const std::string line = next_line(*last);
  std::string_view rest = line;
  while (!rest.empty()) {
    OVERLAPPED at_end{};
    at_end.Offset = 0xFFFFFFFF;
    at_end.OffsetHigh = 0xFFFFFFFF;
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 1 << 30));
    DWORD put = 0;
    if (!WriteFile(file.get(), rest.data(), wanted, &put, &at_end)) return fail(last_error());
    rest.remove_prefix(put);
  }
  return {};
}

}  // namespace sorvane
