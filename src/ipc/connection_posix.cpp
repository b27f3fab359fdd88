// The desktop peer's endpoint on POSIX: a Unix-domain stream socket.
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "ipc/connection.h"
#include "ipc/endpoint.h"
#include "platform/os_error.h"
#include "platform/peer_credentials.h"
#include "platform/unique_fd.h"

namespace sorvane {

namespace {

// One open socket, closed once. Without a deadline it blocks as a plain
// socket does; with one, each call first waits in poll() for what it needs.
class Socket final : public PipeConnection::Handle {
 public:
  explicit Socket(UniqueFd fd) : fd_(std::move(fd)) {}

  int fd() const { return fd_.get(); }

  IoResult<std::size_t> read_some(MutableByteSpan buffer) override {
    for (;;) {
      if (auto ready = wait_until_ready(POLLIN); !ready) return fail(std::move(ready).error());
      const ssize_t got = ::recv(fd(), buffer.data(), buffer.size(), no_wait_flag());
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno == EAGAIN || errno == EWOULDBLOCK) continue;
      // A peer that vanished without shutting down is an end of stream too.
      if (errno == ECONNRESET || errno == EPIPE) return std::size_t{0};
      return fail(os_error(errno));
    }
  }

  IoResult<std::size_t> write_some(ByteSpan bytes) override {
    for (;;) {
      if (auto ready = wait_until_ready(POLLOUT); !ready) return fail(std::move(ready).error());
      const ssize_t sent =
          ::send(fd(), bytes.data(), bytes.size(), SEND_NO_SIGNAL | no_wait_flag());
      if (sent >= 0) return static_cast<std::size_t>(sent);
      if (errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return fail(os_error(errno));
    }
  }

  // A blocked recv or poll returns at once; the descriptor stays open, so its
  // number cannot be reused while the reading thread still holds it.
  void shut_down() noexcept override { (void)::shutdown(fd(), SHUT_RDWR); }

 private:
  // After poll() said ready, the call must not block past the deadline
  // either: a send takes what fits and returns.
  int no_wait_flag() const { return deadline().never() ? 0 : MSG_DONTWAIT; }

  IoResult<void> wait_until_ready(short events) const {
    if (deadline().never()) return {};
    for (;;) {
      if (deadline().expired()) return fail(timed_out());
      pollfd watched{fd(), events, 0};
      const int ready = ::poll(&watched, 1, deadline().wait_ms());
      if (ready > 0) return {};
      if (ready < 0 && errno != EINTR) return fail(os_error(errno));
    }
  }

  UniqueFd fd_;
};

// Bounds the wait of connect() on a listener whose backlog is full (and of
// blocking sends); 0 waits for ever.
bool set_send_timeout(int fd, int milliseconds) {
  const timeval limit{milliseconds / 1000, static_cast<suseconds_t>(milliseconds % 1000) * 1000};
  return ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit)) == 0;
}

class PosixPipes final : public PipeSystem {
 public:
  Result<std::unique_ptr<PipeConnection::Handle>, int> open(std::string_view pipe_name,
                                                            const Deadline& deadline) override {
    const std::string path = endpoint_address(pipe_name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return fail(ENAMETOOLONG);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    const int fd = open_stream_socket();
    if (fd < 0) return fail(errno);
    auto socket = std::make_unique<Socket>(UniqueFd(fd));
    const bool bounded = !deadline.never();
    if (bounded && !set_send_timeout(fd, std::max(1, deadline.wait_ms()))) return fail(errno);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
      return fail(errno);  // EAGAIN: still full when the time was up
    }
    if (bounded && !set_send_timeout(fd, 0)) return fail(errno);
    return std::unique_ptr<PipeConnection::Handle>(std::move(socket));
  }

  OpenFailure classify(int error_code) const override {
    switch (error_code) {
      case EAGAIN:  // the listener's backlog is full
        return OpenFailure::Busy;
      case ENOENT:
      case ENOTDIR:
      case ECONNREFUSED:  // a socket file left behind with no listener
        return OpenFailure::NotRunning;
      case EACCES:
      case EPERM:
        return OpenFailure::Denied;
      default:
        return OpenFailure::Other;
    }
  }

  void wait_busy(std::string_view, int milliseconds) override {
    // Sockets have no wait-for-a-free-instance call: a plain pause.
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  Result<bool, int> owner_accepted(PipeConnection::Handle& handle) override {
    // Every handle given to this object was made by its open().
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-static-cast-downcast)
    auto uid = peer_user_id(static_cast<Socket&>(handle).fd());
    if (!uid) return fail(uid.error());
    return *uid == ::geteuid() || *uid == 0;
  }
};

}  // namespace

PipeSystem& system_pipes() {
  static PosixPipes pipes;
  return pipes;
}

}  // namespace sorvane
