// Where the desktop application listens: a name derived from its data directory.
#pragma once

#include <string>
#include <string_view>

#include "platform/native_string.h"

namespace sorvane {

inline constexpr std::string_view PIPE_PREFIX = R"(\\.\pipe\sorvane-cli-)";

// SORVANE_DATA_DIR when defined (even empty), else the platform's default
// folder with "sorvane" appended, else ".". Never fails.
NativePath data_dir();

// PIPE_PREFIX and the first 8 bytes of SHA-256 over the lower-cased absolute
// data directory, as 16 lower-case hex digits. Never fails.
std::string pipe_name(const NativePath& data_dir);

}  // namespace sorvane

namespace sorvane {

// The platform address of a pipe name: on Windows the name itself; on POSIX
// a Unix-domain socket path in the runtime directory ($XDG_RUNTIME_DIR, else
// $TMPDIR, else /tmp) named by the part after "\\.\pipe\".
NativePath endpoint_address(std::string_view pipe_name);

}  // namespace sorvane
