#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

#include <cerrno>

#include "platform/os_error.h"
#include "platform/real_path.h"

namespace sorvane {
namespace {

// A proc file system mounted anywhere, not only on /proc.
bool on_proc_file_system([[maybe_unused]] const std::string& path) {
#ifdef __linux__
  struct statfs file_system {};
  return ::statfs(path.c_str(), &file_system) == 0 && file_system.f_type == PROC_SUPER_MAGIC;
#else
  return false;
#endif
}

class PosixInspector final : public PathInspector {
 public:
  PathEntry inspect(const std::string& path) override {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return {PathEntry::Kind::Missing, {}};
      return {PathEntry::Kind::Unreadable, os_error(errno).text};
    }
    if (!S_ISLNK(status.st_mode)) {
      if (on_proc_file_system(path)) return {PathEntry::Kind::PerProcess, "a proc file system"};
      return {PathEntry::Kind::Present, {}};
    }
    std::string target(static_cast<std::size_t>(status.st_size) + 1, '\0');
    for (;;) {
      const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
      if (length < 0) return {PathEntry::Kind::Unreadable, os_error(errno).text};
      // A full buffer may mean a cut target: the link changed since lstat.
      if (static_cast<std::size_t>(length) < target.size()) {
        target.resize(static_cast<std::size_t>(length));
        return {PathEntry::Kind::Link, std::move(target)};
      }
      target.resize(target.size() * 2);
    }
  }
};

}  // namespace

IoResult<NativePath> resolve_real_path(const NativePath& absolute) {
  PosixInspector inspector;
  return resolve_links(absolute, PathStyle::Posix, inspector);
}

IoResult<void> check_existing_folder(const NativePath& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return fail(os_error(errno));
  if (!S_ISDIR(status.st_mode)) return fail(IoError{IoErrorKind::InvalidInput, "not a folder"});
  return {};
}

}  // namespace sorvane
