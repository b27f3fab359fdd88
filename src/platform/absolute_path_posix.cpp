#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/absolute_path.h"
#include "platform/os_error.h"

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

IoResult<NativePath> make_absolute(const NativePath& path) {
  if (path.empty()) return make_absolute_posix(path, {});
  if (path.front() == '/') return make_absolute_posix(path, "/");
  auto cwd = current_directory();
  if (!cwd) return fail(std::move(cwd).error());
  return make_absolute_posix(path, *cwd);
}

}  // namespace sorvane
