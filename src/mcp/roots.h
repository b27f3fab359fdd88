// The local folders upload and download may touch: the operator's
// --local-root folders and the roots the client offers. A local path is
// allowed when, with every link followed, it lies inside one of them.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/io.h"
#include "platform/real_path.h"
#include "protocol/error_code.h"

namespace sorvane::mcp {

// The local path a file:// URI names, in the text form of `style`'s paths
// (UTF-8; Windows: "C:\..." or "\\server\share\..."). Nothing for another
// scheme, a remote host on POSIX, a query or fragment, a bad escape, NUL, or
// (Windows) text that is not UTF-8.
std::optional<std::string> path_from_file_uri(std::string_view uri, PathStyle style);

// Where a path leads with every link followed (resolve_links over a file system).
using ResolvePath = std::function<IoResult<std::string>(const std::string& path)>;

// This machine's file system, in the text form of native paths.
ResolvePath resolve_on_this_machine();

// Nothing when the absolute `path` leads inside one of `roots`; else a
// bad_request refusal naming the path and the roots.
std::optional<ToolError> check_confined(const std::string& path,
                                        const std::vector<std::string>& roots, PathStyle style,
                                        const ResolvePath& resolve);

// Whether the absolute `path`, links followed, is an existing folder.
using IsFolder = std::function<bool(const std::string& path)>;

// This machine's file system, in the text form of native paths.
IsFolder folder_test_on_this_machine();

// The name a download of `remote` takes in an existing folder, as scp names
// it: the remote path's last component, trailing separators dropped. It is
// taken after the last "/" or "\\" (hosts that write "\\") and, where local
// names may hold a "\\" (Posix), after the last "/" too; each distinct name
// once. Nothing when the text alone does not tell the name: no component,
// "." or "..", or a first component that only the remote host resolves (a
// home directory such as "~" or "~user", a drive such as "C:").
std::optional<std::vector<std::string>> landing_names(std::string_view remote, PathStyle style);

// check_confined for a download: `local` itself, and the file that lands in
// it when it is a folder. A link planted there is followed like any other. A
// download into an existing folder under a name that cannot be told is
// refused: the destination must be named in full.
std::optional<ToolError> check_download_confined(const std::string& local, std::string_view remote,
                                                 const std::vector<std::string>& roots,
                                                 PathStyle style, const ResolvePath& resolve,
                                                 const IsFolder& is_folder);

// The client's roots as last listed, asked for again after it said they changed.
class ClientRoots {
 public:
  // Lists them (roots/list, decoded); nothing when that failed.
  using Ask = std::function<std::optional<std::vector<std::string>>()>;

  void offered();  // the client declared the roots capability
  void changed();  // notifications/roots/list_changed
  // Nothing asked when the client offers no roots or the list is current.
  std::vector<std::string> current(const Ask& ask);

 private:
  std::mutex mutex_;
  bool offered_ = false;
  std::uint64_t changes_ = 0;
  std::optional<std::uint64_t> listed_at_;  // `changes_` when `roots_` was listed
  std::vector<std::string> roots_;
};

}  // namespace sorvane::mcp
