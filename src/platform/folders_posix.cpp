#include <sys/stat.h>

#include <cerrno>

#include "platform/folders.h"
#include "platform/os_error.h"

namespace sorvane {
namespace {

constexpr mode_t FOLDER_MODE = 0777;  // less the umask, as mkdir(1) makes them

bool is_folder(const NativePath& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

IoResult<void> create_folders(const NativePath& path) {
  if (::mkdir(path.c_str(), FOLDER_MODE) == 0) return {};
  int error = errno;
  // Top down only where something is missing: most of the path exists.
  const auto slash = path.find_last_of('/');
  if (error == ENOENT && slash != NativePath::npos && slash > 0) {
    if (auto parent = create_folders(path.substr(0, slash)); !parent) return parent;
    if (::mkdir(path.c_str(), FOLDER_MODE) == 0) return {};
    error = errno;
  }
  if (error == EEXIST && is_folder(path)) return {};
  return fail(os_error(error == EEXIST ? ENOTDIR : error));
}

}  // namespace sorvane
