#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/full_path.h"

namespace sorvane {

namespace {

IoResult<std::string> current_directory() {
  std::string buffer(256, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return fail(os_error(errno));
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(buffer.find('\0'));
  return buffer;
}

}  // namespace

IoResult<NativePath> full_path(const NativePath& path) {
  if (path.empty()) return absolute_posix_path(path, {});
  if (path.front() == '/') return absolute_posix_path(path, "/");
  auto cwd = current_directory();
  if (!cwd) return fail(std::move(cwd).error());
  return absolute_posix_path(path, *cwd);
}

}  // namespace sorvane
