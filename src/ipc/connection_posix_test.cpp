#include "ipc/connection.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ipc/endpoint.h"
#include "ipc/silent_peer_checks_for_tests.h"
#include "platform/os_error.h"

namespace sorvane {
namespace {

namespace fs = std::filesystem;

// Points XDG_RUNTIME_DIR at a fresh directory for the length of a test.
class RuntimeDir {
 public:
  RuntimeDir() {
    std::string pattern = (fs::temp_directory_path() / "sorvane-link-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old != nullptr) old_ = old;
    ::setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
  }
  RuntimeDir(const RuntimeDir&) = delete;
  RuntimeDir& operator=(const RuntimeDir&) = delete;
  ~RuntimeDir() {
    if (old_)
      ::setenv("XDG_RUNTIME_DIR", old_->c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
    ::chmod(path_.c_str(), 0700);
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::optional<std::string> old_;
};

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

const std::string NAME = pipe_name_from_text("connection test");

// A listening socket at the endpoint of NAME; -1 on failure.
int listen_at_endpoint(int backlog = 4) {
  const std::string path = endpoint_address(NAME);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(fd, backlog) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST(PosixConnect, NoSocketFileIsNotRunning) {
  RuntimeDir dir;
  auto result = connect(NAME);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ConnectErrorKind::NotRunning);
}

TEST(PosixConnect, StaleSocketFileWithoutListenerIsNotRunning) {
  RuntimeDir dir;
  ASSERT_GE(Fd(listen_at_endpoint()).get(), 0);  // closed at once; the file stays
  ASSERT_TRUE(fs::exists(endpoint_address(NAME)));
  auto result = connect(NAME);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ConnectErrorKind::NotRunning);
}

TEST(PosixConnect, UnreachableDirectoryIsDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may enter any directory";
  RuntimeDir dir;
  Fd listener(listen_at_endpoint());
  ASSERT_GE(listener.get(), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0), 0);
  auto result = connect(NAME);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ConnectErrorKind::Denied);
}

TEST(PosixConnect, PathTooLongForASocketIsAnIoError) {
  RuntimeDir dir;
  const std::string deep = dir.path() + "/" + std::string(120, 'd');
  ::setenv("XDG_RUNTIME_DIR", deep.c_str(), 1);
  auto result = connect(NAME);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ConnectErrorKind::Io);
  EXPECT_EQ(result.error().io.text, os_error(ENAMETOOLONG).text);
}

TEST(PosixConnect, OwnListenerIsAcceptedAndCarriesBytesBothWays) {
  RuntimeDir dir;
  Fd listener(listen_at_endpoint());
  ASSERT_GE(listener.get(), 0);
  auto result = connect(NAME);
  ASSERT_TRUE(result) << to_tool_error(result.error()).message;
  PipeConnection connection = std::move(*result);
  ASSERT_TRUE(write_all(connection, as_bytes("ping")));

  Fd server(::accept(listener.get(), nullptr, nullptr));
  char got[8] = {};
  ASSERT_EQ(::read(server.get(), got, sizeof(got)), 4);
  EXPECT_EQ(std::string(got, 4), "ping");
  ASSERT_EQ(::write(server.get(), "pong", 4), 4);
  ::shutdown(server.get(), SHUT_RDWR);

  std::uint8_t buffer[8];
  auto read = connection.read_some(buffer);
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, 4u);
  read = connection.read_some(buffer);
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, 0u);  // end of stream
}

TEST(PosixConnect, WriteToAClosedPeerIsBrokenPipeNotASignal) {
  RuntimeDir dir;
  Fd listener(listen_at_endpoint());
  ASSERT_GE(listener.get(), 0);
  auto result = connect(NAME);
  ASSERT_TRUE(result);
  { Fd server(::accept(listener.get(), nullptr, nullptr)); }
  const std::string chunk(std::size_t{64} * 1024, 'x');
  IoResult<void> written;
  for (int i = 0; i < 8 && written; ++i) written = write_all(*result, as_bytes(chunk));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().kind, IoErrorKind::BrokenPipe);
}

TEST(PosixConnect, DeadlinesAndCancellationEndWaitsOnASilentPeer) {
  RuntimeDir dir;
  Fd listener(listen_at_endpoint());
  ASSERT_GE(listener.get(), 0);
  auto result = connect(NAME);
  ASSERT_TRUE(result);
  Fd server(::accept(listener.get(), nullptr, nullptr));
  testing::expect_reads_and_writes_time_out(*result);
  testing::expect_cancel_ends_a_read_with_a_far_deadline(*result);
}

TEST(PosixConnect, ConnectToAFullBacklogEndsAtTheDeadline) {
  RuntimeDir dir;
  Fd listener(listen_at_endpoint(0));
  ASSERT_GE(listener.get(), 0);
  std::vector<PipeConnection> queued;  // never accepted
  for (;;) {
    auto result = connect(NAME, Deadline::after(std::chrono::milliseconds(20)));
    if (!result) {
      EXPECT_EQ(result.error().io.kind, IoErrorKind::TimedOut) << result.error().io.text;
      break;
    }
    queued.push_back(std::move(*result));
    ASSERT_LT(queued.size(), 64u) << "the backlog never filled";
  }
}

// The child listens as `nobody`, counts what it receives and reports the count.
[[noreturn]] void serve_as_nobody(int ready_fd, int report_fd) {
  if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
  const int listener = listen_at_endpoint();
  if (listener < 0) ::_exit(3);
  (void)!::write(ready_fd, "r", 1);
  const int client = ::accept(listener, nullptr, nullptr);
  std::uint32_t total = 0;
  char buffer[256];
  for (ssize_t got = 0; (got = ::read(client, buffer, sizeof(buffer))) > 0;) total += got;
  (void)!::write(report_fd, &total, sizeof(total));
  ::_exit(0);
}

TEST(PosixConnect, ListenerOfAnotherUserIsRefusedBeforeAnyByteIsSent) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a listener as another user";
  RuntimeDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  int ready[2];
  int report[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) serve_as_nobody(ready[1], report[1]);
  ::close(ready[1]);
  ::close(report[1]);
  char flag = 0;
  ASSERT_EQ(::read(ready[0], &flag, 1), 1);

  auto result = connect(NAME);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ConnectErrorKind::ForeignOwner);

  std::uint32_t received = 12345;
  EXPECT_EQ(::read(report[0], &received, sizeof(received)), static_cast<ssize_t>(sizeof(received)));
  EXPECT_EQ(received, 0u);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ::close(ready[0]);
  ::close(report[0]);
}

TEST(PosixConnect, ListenerOfRootIsAcceptedByAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as root and connect as another user";
  RuntimeDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  Fd listener(listen_at_endpoint());
  ASSERT_GE(listener.get(), 0);
  ASSERT_EQ(::chmod(endpoint_address(NAME).c_str(), 0777), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    auto result = connect(NAME);
    ::_exit(result ? 0 : 10 + static_cast<int>(result.error().kind));
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace sorvane
