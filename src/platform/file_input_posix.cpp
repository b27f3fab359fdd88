#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_input.h"
#include "platform/os_error.h"
#include "platform/unique_fd.h"

namespace sorvane {
namespace {

class FileInput final : public ByteReader {
 public:
  explicit FileInput(UniqueFd fd) : fd_(std::move(fd)) {}
  IoResult<std::size_t> read_some(MutableByteSpan buffer) override {
    for (;;) {
      const ssize_t got = ::read(fd_.get(), buffer.data(), buffer.size());
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno != EINTR) return fail(os_error(errno));
    }
  }

 private:
  UniqueFd fd_;
};

}  // namespace

IoResult<std::unique_ptr<ByteReader>> open_for_reading(const NativePath& path) {
  // A terminal named here must not become the process's controlling one.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) return fail(os_error(errno));
  return std::unique_ptr<ByteReader>(std::make_unique<FileInput>(std::move(fd)));
}

}  // namespace sorvane
