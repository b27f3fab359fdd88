#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

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

// The peer ignores SIGPIPE for itself; an ignored signal would stay ignored
// across exec, so the command gets the default dispositions back.
void reset_signals(posix_spawnattr_t& attributes) {
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGTERM}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
}

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
  reset_signals(setup.attributes);

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

int wait_for_exit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 255;
}

// Reads both pipes until both reach end of file; false when the sink gave up.
bool pump(UniqueFd& out, UniqueFd& err, const ChunkSink& sink) {
  std::vector<std::uint8_t> buffer(MAX_CHUNK);
  while (out.valid() || err.valid()) {
    std::array<pollfd, 2> fds = {pollfd{out.get(), POLLIN, 0}, pollfd{err.get(), POLLIN, 0}};
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
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

Result<int, std::string> run_shell(const std::string& command, const ShellVariables& variables,
                                   const ChunkSink& sink) {
  auto out = make_pipe();
  if (!out) return fail(std::move(out).error());
  auto err = make_pipe();
  if (!err) return fail(std::move(err).error());
  auto pid = spawn(command, variables, *out, *err);
  if (!pid) return fail(std::move(pid).error());
  out->write_end.reset();
  err->write_end.reset();

  if (!pump(out->read_end, err->read_end, sink)) {
    ::kill(*pid, SIGKILL);
    wait_for_exit(*pid);
    return fail(std::string("the client went away"));
  }
  return wait_for_exit(*pid);
}

std::optional<std::filesystem::path> home_directory() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return std::nullopt;
  return std::filesystem::path(home);
}

}  // namespace sorvane::peer
