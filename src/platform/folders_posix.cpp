#include <sys/stat.h>

#include <cerrno>

#include "platform/folders.h"
#include "platform/os_error.h"

namespace sorvane {
namespace {

constexpr mode_t FOLDER_MODE = 0777;  // less the umask, as mkdir(1) makes them

// What is already there, a link not followed.
IoResult<void> existing_folder(const NativePath& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return fail(os_error(errno));
  if (S_ISLNK(status.st_mode)) return fail(link_in_place());
  if (!S_ISDIR(status.st_mode)) return fail(os_error(ENOTDIR));
  return {};
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
  if (error == EEXIST) return existing_folder(path);
  return fail(os_error(error));
}

}  // namespace sorvane
