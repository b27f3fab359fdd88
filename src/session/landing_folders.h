// Where a download from several hosts lands: a folder of each host's own
// under the local destination, named after the host, so that the hosts'
// files never meet.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "protocol/error_code.h"
#include "session/fleet.h"
#include "text/native_string.h"

namespace sorvane {

// Whether `name` is one folder name that every supported system keeps as
// written: not empty, "." or "..", no separator, control character or
// character Windows forbids (<>:"|?*), no format character (bidirectional
// controls, tags, zero-width ones) nor line or paragraph separator, no
// character that canonical normalization changes or moves (a precomposed
// letter such as "é", a combining mark), no Windows device name (CON, NUL,
// COM1, with or without extension), no trailing dot or space (which Windows
// drops), valid UTF-8 and at most 255 bytes.
bool is_safe_folder_name(std::string_view name);

// Each host's folder name, in the hosts' order: its name, unless the name is
// not safe or another chosen host's folder would be the same one (names
// compared without regard to case, as Windows and macOS compare them); then
// its ID. A host whose ID cannot stand in either gets an error instead, and
// is not run.
std::vector<Result<std::string, ToolError>> landing_folders(std::span<const HostLabel> hosts);

// Each host's landing folder under `local` (absolute), made with any
// missing folder above it when the host's turn comes, so that a host that
// never starts leaves no folder behind. A host without a folder name, or
// whose folder cannot be made, gets the error.
DownloadFromHosts::LocalFor landing_folder_for(std::span<const HostLabel> hosts, NativePath local);

}  // namespace sorvane
