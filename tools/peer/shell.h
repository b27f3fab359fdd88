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

inline constexpr std::size_t MAX_CHUNK = std::size_t{64} * 1024;

// Variables set for the command on top of the peer's own environment.
using ShellVariables = std::vector<std::pair<std::string, std::string>>;

// Runs `command` with /bin/sh -c (cmd /c on Windows) in the home directory,
// with no standard input and the peer's environment with `variables` set,
// streaming its output in chunks of at most MAX_CHUNK bytes. Returns the
// exit code (128 + signal for a command killed by a signal), or why it
// could not be run or was stopped.
Result<int, std::string> run_shell(const std::string& command, const ShellVariables& variables,
                                   const ChunkSink& sink);

// The user's home directory ($HOME, %USERPROFILE%), if known.
std::optional<std::filesystem::path> home_directory();

}  // namespace sorvane::peer
