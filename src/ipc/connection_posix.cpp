// The desktop peer's endpoint on POSIX: a Unix-domain stream socket.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

// One open socket, closed once.
class Socket final : public PipeConnection::Handle {
 public:
  explicit Socket(UniqueFd fd) : fd_(std::move(fd)) {}

  int fd() const { return fd_.get(); }

  IoResult<std::size_t> read_some(MutableByteSpan buffer) override {
    const ssize_t got = ::recv(fd(), buffer.data(), buffer.size(), 0);
    if (got >= 0) return static_cast<std::size_t>(got);
    // A peer that vanished without shutting down is an end of stream too.
    if (errno == ECONNRESET || errno == EPIPE) return std::size_t{0};
    return fail(os_error(errno));
  }

  IoResult<std::size_t> write_some(ByteSpan bytes) override {
    const ssize_t sent = ::send(fd(), bytes.data(), bytes.size(), SEND_NO_SIGNAL);
    if (sent >= 0) return static_cast<std::size_t>(sent);
    return fail(os_error(errno));
  }

  // A blocked recv returns 0 at once; the descriptor stays open, so its
  // number cannot be reused while the reading thread still holds it.
  void shut_down() noexcept override { (void)::shutdown(fd(), SHUT_RDWR); }

 private:
  UniqueFd fd_;
};

class PosixPipes final : public PipeSystem {
 public:
  Result<std::unique_ptr<PipeConnection::Handle>, int> open(std::string_view pipe_name) override {
    const std::string path = endpoint_address(pipe_name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return fail(ENAMETOOLONG);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    const int fd = open_stream_socket();
    if (fd < 0) return fail(errno);
    auto socket = std::make_unique<Socket>(UniqueFd(fd));
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
      return fail(errno);
    }
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
