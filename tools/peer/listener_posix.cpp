#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "listener.h"
#include "platform/os_error.h"
#include "platform/unique_fd.h"

namespace sorvane::peer {
namespace {

std::string errno_text(const std::string& what) { return what + ": " + os_error(errno).text; }

// The socket file is removed on SIGINT and SIGTERM too, and the commands
// still running are ended, so a stopped peer leaves nothing behind. Only
// async-signal-safe calls in the handler.
// A plain global because a signal handler can reach nothing else.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
char g_socket_path[sizeof(sockaddr_un::sun_path)];

extern "C" void remove_socket_and_exit(int) {
  end_running_commands();
  if (g_socket_path[0] != '\0') ::unlink(g_socket_path);
  ::_exit(0);
}

void install_stop_handlers(const std::string& path) {
  std::memcpy(g_socket_path, path.c_str(), path.size() + 1);
  struct sigaction action {};
  action.sa_handler = remove_socket_and_exit;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A client that goes away must show up as EPIPE on write, not kill the peer.
  signal(SIGPIPE, SIG_IGN);
}

Result<sockaddr_un, std::string> socket_address(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    return fail("socket path is empty or too long: " + path);
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

// A socket file nobody listens on is left over from a peer that was killed;
// a live one belongs to another server, and any other file is not ours.
Result<bool, std::string> clear_stale_socket(const sockaddr_un& address) {
  struct stat info {};
  if (::lstat(address.sun_path, &info) != 0) return true;
  if (!S_ISSOCK(info.st_mode))
    return fail(std::string("not a socket, left alone: ") + address.sun_path);
  UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (probe.valid() &&
      ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return fail(std::string("another server is already listening on ") + address.sun_path);
  }
  if (::unlink(address.sun_path) != 0 && errno != ENOENT)
    return fail(errno_text("cannot remove stale socket"));
  return true;
}

class SocketConnection final : public PeerConnection {
 public:
  explicit SocketConnection(UniqueFd socket) : socket_(std::move(socket)) {}

  IoResult<std::size_t> read_some(MutableByteSpan buffer) override {
    const ssize_t got = ::read(socket_.get(), buffer.data(), buffer.size());
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno == ECONNRESET) return std::size_t{0};
    return fail(os_error(errno));
  }

  IoResult<std::size_t> write_some(ByteSpan bytes) override {
    const ssize_t sent = ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<std::size_t>(sent);
    return fail(os_error(errno));
  }

  void close() override {
    if (socket_.valid()) ::shutdown(socket_.get(), SHUT_WR);
    socket_.reset();
  }

  bool hung_up() override {
    pollfd fd{socket_.get(), 0, 0};
    return ::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR)) != 0;
  }

  int hang_up_descriptor() const override { return socket_.get(); }

 private:
  UniqueFd socket_;
};

}  // namespace

struct Listener::State {
  UniqueFd socket;
  std::string path;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    if (socket.valid()) ::unlink(path.c_str());
  }
};

Result<Listener, std::string> Listener::open(const NativePath& path,
                                             bool /*one_instance: the backlog queues clients*/) {
  auto address = socket_address(path);
  if (!address) return fail(std::move(address).error());
  if (auto cleared = clear_stale_socket(*address); !cleared)
    return fail(std::move(cleared).error());

  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.valid()) return fail(errno_text("socket"));
  // Only the current user may connect: the file is created with mode 0600.
  const mode_t previous = ::umask(0177);
  const int bound =
      ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address);
  const int bind_errno = errno;
  ::umask(previous);
  if (bound != 0) {
    errno = bind_errno;
    return fail(errno_text("cannot bind " + path));
  }
  auto state = std::make_unique<State>();
  state->socket = std::move(socket);
  state->path = path;
  if (::listen(state->socket.get(), 16) != 0) return fail(errno_text("listen"));
  install_stop_handlers(path);
  return Listener(std::move(state));
}

Listener::Listener(std::unique_ptr<State> state) : state_(std::move(state)) {}
Listener::Listener(Listener&&) noexcept = default;
Listener& Listener::operator=(Listener&&) noexcept = default;
Listener::~Listener() = default;

IoResult<std::unique_ptr<PeerConnection>> Listener::accept(
    bool /*more_to_come: the backlog queues them*/) {
  while (true) {
    const int fd = ::accept4(state_->socket.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0)
      return std::unique_ptr<PeerConnection>(std::make_unique<SocketConnection>(UniqueFd(fd)));
    if (errno == EINTR || errno == ECONNABORTED) continue;
    return fail(os_error(errno));
  }
}

}  // namespace sorvane::peer
