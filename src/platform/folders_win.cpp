#include <windows.h>

#include "platform/folders.h"
#include "platform/os_error.h"

namespace sorvane {
namespace {

// Symbolic links and junctions lead elsewhere; other reparse points (cloud
// placeholders, deduplicated files) are folders where they stand.
bool is_link(const NativePath& path) {
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         (found.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
          found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
}

// What is already there, a link not followed.
IoResult<void> existing_folder(const NativePath& path) {
  if (is_link(path)) return fail(link_in_place());
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return fail(os_error(static_cast<int>(GetLastError())));
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return fail(os_error(static_cast<int>(ERROR_DIRECTORY)));
  }
  return {};
}

}  // namespace

IoResult<void> create_folders(const NativePath& path) {
  if (CreateDirectoryW(path.c_str(), nullptr) != 0) return {};
  DWORD error = GetLastError();
  // Top down only where something is missing: most of the path exists.
  const auto separator = path.find_last_of(L"\\/");
  if (error == ERROR_PATH_NOT_FOUND && separator != NativePath::npos && separator > 0) {
    if (auto parent = create_folders(path.substr(0, separator)); !parent) return parent;
    if (CreateDirectoryW(path.c_str(), nullptr) != 0) return {};
    error = GetLastError();
  }
  if (error == ERROR_ALREADY_EXISTS) return existing_folder(path);
  return fail(os_error(static_cast<int>(error)));
}

}  // namespace sorvane
