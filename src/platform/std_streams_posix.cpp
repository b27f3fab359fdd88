#include <unistd.h>

#include <cerrno>

#include "platform/os_error.h"
#include "platform/std_streams.h"

namespace sorvane {
namespace {

int descriptor(StdStream stream) {
  return stream == StdStream::Output ? STDOUT_FILENO : STDERR_FILENO;
}

}  // namespace

bool is_terminal(StdStream stream) { return isatty(descriptor(stream)) == 1; }

bool enable_colour(StdStream stream) { return is_terminal(stream); }

StdOutputStream::StdOutputStream(StdStream stream) : stream_(stream) {}

IoResult<void> StdOutputStream::write_all(ByteSpan bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(descriptor(stream_), bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return fail(os_error(errno));
    }
    if (written == 0) return fail(IoError{IoErrorKind::WriteZero, "failed to write whole buffer"});
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return {};
}

IoResult<std::size_t> StdInputStream::read_some(MutableByteSpan buffer) {
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno == EINTR) continue;
    if (errno == EBADF) return std::size_t{0};  // no standard input at all
    return fail(os_error(errno));
  }
}

IoResult<std::string> read_stdin_to_end(std::size_t limit) {
  StdInputStream in;
  return read_to_end(in, limit);
}

}  // namespace sorvane
