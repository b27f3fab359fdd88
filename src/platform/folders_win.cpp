#include <windows.h>

#include "platform/folders.h"
#include "platform/os_error.h"

namespace sorvane {
namespace {

bool is_folder(const NativePath& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
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
  if (error == ERROR_ALREADY_EXISTS && is_folder(path)) return {};
  return fail(os_error(static_cast<int>(error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error)));
}

}  // namespace sorvane
