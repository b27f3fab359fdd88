#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/env.h"
#include "platform/os_error.h"
#include "platform/temp_file.h"
#include "platform/unique_fd.h"

namespace sorvane {
namespace {

class UnnamedFile final : public TempFile {
 public:
  explicit UnnamedFile(UniqueFd fd) : fd_(std::move(fd)) {}

  IoResult<void> write_at(std::uint64_t offset, ByteSpan bytes) override {
    while (!bytes.empty()) {
      const ssize_t put =
          ::pwrite(fd_.get(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return fail(os_error(errno));
      bytes = bytes.subspan(static_cast<std::size_t>(put));
      offset += static_cast<std::uint64_t>(put);
    }
    return {};
  }

  IoResult<void> read_at(std::uint64_t offset, MutableByteSpan bytes) override {
    while (!bytes.empty()) {
      const ssize_t got =
          ::pread(fd_.get(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return fail(os_error(errno));
      if (got == 0)
        return fail(IoError{IoErrorKind::UnexpectedEof, "the temporary file is shorter"});
      bytes = bytes.subspan(static_cast<std::size_t>(got));
      offset += static_cast<std::uint64_t>(got);
    }
    return {};
  }

 private:
  UniqueFd fd_;
};

std::string temp_folder() {
  auto folder = environment_variable("TMPDIR");
  if (!folder || folder->empty()) return "/tmp";
  return *folder;
}

// Named for a moment only: where the file system has no O_TMPFILE.
IoResult<UniqueFd> create_and_unlink(const std::string& folder) {
  std::string name = append_path_component(folder, "sorvane-XXXXXX");
  UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (!fd.valid()) return fail(os_error(errno));
  if (::unlink(name.c_str()) != 0) return fail(os_error(errno));
  return fd;
}

}  // namespace

IoResult<std::unique_ptr<TempFile>> create_temp_file() {
  const std::string folder = temp_folder();
#ifdef O_TMPFILE
  UniqueFd fd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR));
  if (fd.valid()) return std::unique_ptr<TempFile>(std::make_unique<UnnamedFile>(std::move(fd)));
#endif
  auto named = create_and_unlink(folder);
  if (!named) return fail(std::move(named).error());
  return std::unique_ptr<TempFile>(std::make_unique<UnnamedFile>(std::move(*named)));
}

}  // namespace sorvane
