// Running the demo's "remote" commands with the local shell.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "ipc/frame.h"

namespace sorvane::peer {

// Receives each chunk of output as it arrives; returning false stops the
// command (the client has gone away).
using ChunkSink = std::function<bool(FrameKind stream, ByteSpan chunk)>;

// The client's end of the conversation, watched while its command runs: a
// client that closes the connection before the final reply asks for the
// command to end, whether or not the command writes anything.
class ClientEnd {
 public:
  ClientEnd() = default;
  ClientEnd(const ClientEnd&) = delete;
  ClientEnd& operator=(const ClientEnd&) = delete;
  virtual ~ClientEnd() = default;

  // Whether the client has closed the connection, without waiting. A client
  // that only stops sending (a half-close) is still there to read.
  virtual bool hung_up() = 0;
  // A descriptor whose POLLHUP says the same, to wait on together with the
  // command's pipes (POSIX); -1 where there is none.
  virtual int hang_up_descriptor() const { return -1; }
};

// Why a command did not run to its end.
struct ShellError {
  std::string text;
  bool client_gone = false;  // the command was ended because nobody waits for it
};

inline constexpr std::size_t MAX_CHUNK = std::size_t{64} * 1024;

// Variables set for the command on top of the peer's own environment.
using ShellVariables = std::vector<std::pair<std::string, std::string>>;

// Runs `command` with /bin/sh -c (cmd /c on Windows) in the home directory,
// with no standard input and the peer's environment with `variables` set,
// streaming its output in chunks of at most MAX_CHUNK bytes. Returns the
// exit code (128 + signal for a command killed by a signal), or why it
// could not be run or was stopped. When `client` hangs up, or the sink gives
// up, the command and every process it started are ended (on POSIX its
// process group, on Windows its job).
Result<int, ShellError> run_shell(const std::string& command, const ShellVariables& variables,
                                  const ChunkSink& sink, ClientEnd* client = nullptr);

// Ends every command still running, for a peer that is being stopped.
// Async-signal-safe on POSIX; on Windows the system does it as the peer's
// jobs close.
void end_running_commands() noexcept;

// The user's home directory ($HOME, %USERPROFILE%), if known.
std::optional<std::filesystem::path> home_directory();

}  // namespace sorvane::peer
