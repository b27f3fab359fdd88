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

IoError refused(std::string_view why) {
  return IoError{IoErrorKind::InvalidInput, std::string(why)};
}

// What the name led to, checked on the open file itself (a check of the
// path could be answered by another file than the one then opened).
IoResult<void> check_private(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return fail(os_error(errno));
  if (!S_ISREG(status.st_mode)) return fail(refused("is not a regular file"));
  if (status.st_uid != ::geteuid()) return fail(refused("is not owned by the current user"));
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return fail(refused("is writable by others than its owner"));
  }
  return {};
}

}  // namespace

IoResult<void> append_to_private_log(
    const NativePath& path,
    const std::function<std::string(std::string_view last_line)>& next_line) {
  // Not through a link, and without waiting: opening a FIFO blocks until
  // someone reads it, and writing to one loses the lines or blocks for ever.
  const UniqueFd fd(
      ::open(path.c_str(),
             O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600));
  if (!fd.valid()) return fail(errno == ELOOP ? refused("is a symbolic link") : os_error(errno));
  if (auto checked = check_private(fd.get()); !checked) return checked;
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

}  // namespace sorvane
