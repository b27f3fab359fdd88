// The demo's uploads and downloads: both ends are this machine, so a
// transfer is a local copy with the destination rules of scp.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "protocol/reply.h"

namespace sorvane::peer {

namespace fs = std::filesystem;

fs::path path_from_utf8(std::string_view utf8);
std::string path_to_utf8(const fs::path& path);

// "~" alone or followed by a separator stands for the home directory, as on
// the remote side; anything else (such as "~user") is left as it is.
fs::path expand_home(std::string_view remote, const fs::path& home);

// Where the copy of `source` goes: inside `destination` under the source's
// own name when `destination` is an existing directory, else `destination`.
// The name is the last component of the path made absolute and lexically
// normal, so "dir/." lands as "dir" and ".." as its folder's name.
fs::path copy_target(const fs::path& source, const fs::path& destination);

// Called with the running counters; returning false stops the copy (the
// client has gone away).
using ProgressSink = std::function<bool(const TransferCounters&)>;

struct CopyOptions {
  std::chrono::milliseconds progress_interval{100};
  std::size_t chunk_size = std::size_t{256} * 1024;
};

// Copies a file or a folder (recursively), overwriting existing files and
// going on past files that cannot be read or written: each of them is
// counted as failed with one text. Progress is reported at most once per
// interval and once at the end. Fails as a whole only when the source does
// not exist or the client went away.
Result<TransferSummary, std::string> copy_tree(const fs::path& source, const fs::path& destination,
                                               const ProgressSink& progress,
                                               const CopyOptions& options = {});

}  // namespace sorvane::peer
