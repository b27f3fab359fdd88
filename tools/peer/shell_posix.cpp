#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/deadline.h"
#include "platform/unique_fd.h"
#include "shell.h"

// The process environment, handed on to the child.
extern char** environ;  // NOLINT: declared by POSIX, not by a C++ header

namespace sorvane::peer {
namespace {

struct Pipe {
  UniqueFd read_end;
  UniqueFd write_end;
};

Result<Pipe, std::string> make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return fail(std::string("pipe: ") + std::strerror(errno));
  return Pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

class SpawnSetup {
 public:
  SpawnSetup() {  // NOLINT(cppcoreguidelines-pro-type-member-init): the init calls do it
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
};

// How long a stopped command has for SIGTERM before its group gets SIGKILL.
constexpr auto STOP_GRACE = std::chrono::seconds(2);
// The longest pause between two looks at a shell that has closed its output.
constexpr int MAX_PAUSE_MS = 50;

// The peer ignores SIGPIPE for itself; an ignored signal would stay ignored
// across exec, so the command gets the default dispositions back. The shell
// leads a process group of its own, so that stopping the command reaches
// every process it started, background jobs too.
void set_attributes(posix_spawnattr_t& attributes) {
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGTERM}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
}

// The process groups of the commands running now, for end_running_commands,
// which a signal handler calls: hence plain lock-free slots (0: free), more
// than the peer serves at once. A global because a handler reaches nothing else.
constexpr std::size_t RUNNING_SLOTS = 256;
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
std::array<std::atomic<pid_t>, RUNNING_SLOTS> g_running_groups{};

// Holds a command's group in g_running_groups until it is let go, which
// comes before the shell is reaped: a reaped shell's pid may name another
// group.
class RunningGroup {
 public:
  explicit RunningGroup(pid_t group) {
    for (auto& slot : g_running_groups) {
      pid_t free = 0;
      if (slot.compare_exchange_strong(free, group)) {
        slot_ = &slot;
        return;
      }
    }
  }
  ~RunningGroup() { let_go(); }
  RunningGroup(const RunningGroup&) = delete;
  RunningGroup& operator=(const RunningGroup&) = delete;

  void let_go() {
    if (slot_ != nullptr) slot_->store(0);
    slot_ = nullptr;
  }

 private:
  std::atomic<pid_t>* slot_ = nullptr;
};

// The peer's environment with `variables` set ("NAME=value" each), and the
// pointers to them that posix_spawn takes, ending with null.
class Environment {
 public:
  explicit Environment(const ShellVariables& variables) {
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view text(*entry);
      const bool replaced = std::any_of(
          variables.begin(), variables.end(),
          [&](const auto& variable) { return text.substr(0, text.find('=')) == variable.first; });
      if (!replaced) entries_.emplace_back(text);
    }
    for (const auto& [name, value] : variables) entries_.push_back(name + "=" + value);
    for (std::string& entry : entries_) pointers_.push_back(entry.data());
    pointers_.push_back(nullptr);
  }
  char** get() { return pointers_.data(); }

 private:
  std::vector<std::string> entries_;
  std::vector<char*> pointers_;
};

Result<pid_t, std::string> spawn(const std::string& command, const ShellVariables& variables,
                                 const Pipe& out, const Pipe& err) {
  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions, out.write_end.get(), 1);
  posix_spawn_file_actions_adddup2(&setup.actions, err.write_end.get(), 2);
  const auto home = home_directory();
  if (home) posix_spawn_file_actions_addchdir_np(&setup.actions, home->c_str());
  set_attributes(setup.attributes);

  std::string shell = "/bin/sh";
  std::string dash_c = "-c";
  std::string text = command;
  char* argv[] = {shell.data(), dash_c.data(), text.data(), nullptr};
  pid_t pid = 0;
  Environment environment(variables);
  const int failed =
      posix_spawn(&pid, "/bin/sh", &setup.actions, &setup.attributes, argv, environment.get());
  if (failed != 0) return fail(std::string("cannot start /bin/sh: ") + std::strerror(failed));
  return pid;
}

// Closing the connection shows as POLLHUP on the peer's socket, asked for
// or not; a client that only shut down its sending side does not raise it.
bool client_hung_up(short revents) { return (revents & (POLLHUP | POLLERR)) != 0; }

pollfd watch_client(const ClientEnd* client) {
  return pollfd{client != nullptr ? client->hang_up_descriptor() : -1, 0, 0};
}

// Whether the shell has ended, leaving it unreaped.
bool has_exited(pid_t pid) {
  siginfo_t info{};
  if (::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0) return errno != EINTR;
  return info.si_pid == pid;
}

enum class Waited { Exited, ClientGone, GraceOver };

// Waits for the shell to end, until the client hangs up or `until`; looks at
// the shell after short pauses that grow, as it has no descriptor to poll.
Waited wait_for_shell(pid_t pid, const ClientEnd* client, const Deadline& until) {
  int pause_ms = 1;
  while (!has_exited(pid)) {
    if (until.expired()) return Waited::GraceOver;
    pollfd fd = watch_client(client);
    if (::poll(&fd, 1, pause_ms) > 0 && client_hung_up(fd.revents)) return Waited::ClientGone;
    pause_ms = std::min(pause_ms * 2, MAX_PAUSE_MS);
  }
  return Waited::Exited;
}

int reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 255;
}

// Ends the command and all it started: SIGTERM to its group, then SIGKILL
// once the shell has ended or the grace is over, for what is left.
void end_group(pid_t pid) {
  ::kill(-pid, SIGTERM);
  (void)wait_for_shell(pid, nullptr, Deadline::after(STOP_GRACE));
  ::kill(-pid, SIGKILL);
}

// Reads both pipes until both reach end of file; false when the sink gave up
// or the client hung up.
bool pump(UniqueFd& out, UniqueFd& err, const ChunkSink& sink, const ClientEnd* client) {
  std::vector<std::uint8_t> buffer(MAX_CHUNK);
  while (out.valid() || err.valid()) {
    std::array<pollfd, 3> fds = {pollfd{out.get(), POLLIN, 0}, pollfd{err.get(), POLLIN, 0},
                                 watch_client(client)};
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (client_hung_up(fds[2].revents)) return false;
    for (std::size_t i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      UniqueFd& fd = i == 0 ? out : err;
      const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        fd.reset();
        continue;
      }
      const auto kind = i == 0 ? FrameKind::Stdout : FrameKind::Stderr;
      if (!sink(kind, ByteSpan(buffer.data(), static_cast<std::size_t>(got)))) return false;
    }
  }
  return true;
}

}  // namespace

Result<int, ShellError> run_shell(const std::string& command, const ShellVariables& variables,
                                  const ChunkSink& sink, ClientEnd* client) {
  auto out = make_pipe();
  if (!out) return fail(ShellError{std::move(out).error()});
  auto err = make_pipe();
  if (!err) return fail(ShellError{std::move(err).error()});
  auto pid = spawn(command, variables, *out, *err);
  if (!pid) return fail(ShellError{std::move(pid).error()});
  RunningGroup running(*pid);
  out->write_end.reset();
  err->write_end.reset();

  // The command may close its output and still run: the client is watched
  // until the shell has ended.
  const bool client_stayed = pump(out->read_end, err->read_end, sink, client) &&
                             wait_for_shell(*pid, client, Deadline()) == Waited::Exited;
  if (!client_stayed) end_group(*pid);
  running.let_go();
  const int code = reap(*pid);
  if (!client_stayed) return fail(ShellError{"the client went away", true});
  return code;
}

void end_running_commands() noexcept {
  for (auto& slot : g_running_groups) {
    if (const pid_t group = slot.load(); group != 0) ::kill(-group, SIGKILL);
  }
}

std::optional<std::filesystem::path> home_directory() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return std::nullopt;
  return std::filesystem::path(home);
}

}  // namespace sorvane::peer
