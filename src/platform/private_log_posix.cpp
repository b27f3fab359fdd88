#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/os_error.h"
#include "platform/private_log.h"
#include "platform/unique_fd.h"

namespace sorvane {
namespace {

// flock(2) on the open file, given up at the deadline; released on close.
void lock_for_a_while(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + LOG_LOCK_WAIT;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

IoResult<void> read_at(int fd, std::uint64_t offset, MutableByteSpan bytes) {
  while (!bytes.empty()) {
    const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(os_error(errno));
    if (got == 0) return fail(IoError{IoErrorKind::UnexpectedEof, "the file became shorter"});
    bytes = bytes.subspan(static_cast<std::size_t>(got));
    offset += static_cast<std::uint64_t>(got);
  }
  return {};
}

IoResult<void> write_all_to(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t put = ::write(fd, text.data(), text.size());
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return fail(os_error(errno));
    text.remove_prefix(static_cast<std::size_t>(put));
  }
  return {};
}

}  // namespace

IoResult<void> append_to_private_log(
    const NativePath& path,
    const std::function<std::string(std::string_view last_line)>& next_line) {
  const UniqueFd fd(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  if (!fd.valid()) return fail(os_error(errno));
  lock_for_a_while(fd.get());
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) return fail(os_error(errno));
  auto last = read_last_line(static_cast<std::uint64_t>(status.st_size),
                             [&](std::uint64_t offset, MutableByteSpan bytes) {
                               return read_at(fd.get(), offset, bytes);
                             });
  if (!last) return fail(std::move(last).error());
  return write_all_to(fd.get(), next_line(*last));
}

IoResult<std::string> read_whole_file(const NativePath& path) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return fail(os_error(errno));
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(os_error(errno));
    if (got == 0) return content;
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace sorvane
