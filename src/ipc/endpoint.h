// Where the desktop application listens: a name derived from its data directory.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "text/native_string.h"

namespace sorvane {

inline constexpr std::string_view PIPE_PREFIX = R"(\\.\pipe\sorvane-cli-)";
inline constexpr std::string_view DATA_DIR_VARIABLE = "SORVANE_DATA_DIR";
inline constexpr std::string_view DATA_SUBFOLDER = "sorvane";

// SORVANE_DATA_DIR when defined (even empty), else the platform's default
// folder with "sorvane" appended, else ".". Never fails.
NativePath data_dir();

// PIPE_PREFIX and the first 8 bytes of SHA-256 over the lower-cased absolute
// data directory, as 16 lower-case hex digits. Never fails.
std::string pipe_name(const NativePath& data_dir);

// The steps after making the path absolute: lower-case the text, hash its
// UTF-8 bytes, keep 8 bytes as hex after PIPE_PREFIX.
std::string pipe_name_from_text(std::string_view path_text);

}  // namespace sorvane

namespace sorvane {

// The platform address of a pipe name: on Windows the name itself; on POSIX
// a Unix-domain socket path in the runtime directory ($XDG_RUNTIME_DIR, else
// $TMPDIR, else /tmp) named by the part after "\\.\pipe\". A relative
// $XDG_RUNTIME_DIR counts as unset.
NativePath endpoint_address(std::string_view pipe_name);

// The POSIX rule with the two variables given (nothing or empty = unset).
std::string socket_path(std::string_view pipe_name, const std::optional<std::string>& runtime_dir,
                        const std::optional<std::string>& temp_dir);

}  // namespace sorvane
