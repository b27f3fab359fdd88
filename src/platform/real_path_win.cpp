#include <windows.h>

#include <string>

#include "platform/os_error.h"
#include "platform/real_path.h"
#include "platform/unique_handle_win.h"

namespace sorvane {
namespace {

std::string last_error_text() { return os_error(static_cast<int>(GetLastError())).text; }

// The path the system reaches through an open handle, in its "\\?\" form.
Result<std::wstring, std::string> final_path(HANDLE handle) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return fail(last_error_text());
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(length);
  }
}

// What its folder lists under the name: a link to nothing is listed (Wine
// lists it, then says there are no more files), so only "not found" from
// the listing too means nothing is there.
PathEntry nothing_or_a_broken_link(const std::wstring& path) {
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW(path.c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    FindClose(search);
  } else if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND) {
    return {PathEntry::Kind::Missing, {}};
  }
  return {PathEntry::Kind::Unreadable, "a link whose target cannot be reached"};
}

// Symbolic links, junctions and every other reparse point are taken as links
// to where opening them leads; one that leads to itself is a plain entry.
class WindowsInspector final : public PathInspector {
 public:
  PathEntry inspect(const std::string& path) override {
    const std::wstring native = argument_to_native(path);
    const DWORD attributes = GetFileAttributesW(native.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        return {PathEntry::Kind::Unreadable, os_error(static_cast<int>(error)).text};
      }
      return nothing_or_a_broken_link(native);
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return {PathEntry::Kind::Present, {}};
    const UniqueHandle handle(
        CreateFileW(native.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid()) {
      return {PathEntry::Kind::Unreadable,
              "a link whose target cannot be opened: " + last_error_text()};
    }
    auto target = final_path(handle.get());
    if (!target) return {PathEntry::Kind::Unreadable, std::move(target).error()};
    std::string utf8 = native_to_argument(*target);
    const bool itself =
        path_within(utf8, path, PathStyle::Windows) && path_within(path, utf8, PathStyle::Windows);
    if (itself) return {PathEntry::Kind::Present, {}};
    return {PathEntry::Kind::Link, std::move(utf8)};
  }
};

}  // namespace

IoResult<NativePath> resolve_real_path(const NativePath& absolute) {
  WindowsInspector inspector;
  auto resolved = resolve_links(native_to_argument(absolute), PathStyle::Windows, inspector);
  if (!resolved) return fail(std::move(resolved).error());
  return argument_to_native(*resolved);
}

IoResult<void> check_existing_folder(const NativePath& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return fail(os_error(static_cast<int>(GetLastError())));
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return fail(IoError{IoErrorKind::InvalidInput, "not a folder"});
  }
  return {};
}

}  // namespace sorvane
