// Where a local path really leads: every symbolic link followed, "." and
// ".." taken against the real parent, as the system does when it opens the
// path. A path that does not exist yet resolves through its nearest existing
// parent; the missing rest is kept as written, since it holds no link.
//
// A path that passes through a view each process sees as its own (/proc,
// /dev/fd, /dev/stdin and the like) leads to no one place: another process
// that opens it reaches something else. On Windows, device names and
// alternate data streams are no files either. Such a path fails, at any step
// of the walk.
//
// The walk itself is portable and sees the file system through a small
// interface, so its rules are tested without touching a disk.
#pragma once

#include <string>
#include <string_view>

#include "base/io.h"
#include "text/native_string.h"

namespace sorvane {

enum class PathStyle { Posix, Windows };

#ifdef _WIN32
inline constexpr PathStyle NATIVE_PATH_STYLE = PathStyle::Windows;
#else
inline constexpr PathStyle NATIVE_PATH_STYLE = PathStyle::Posix;
#endif

// What is at one path, a final link not followed.
struct PathEntry {
  enum class Kind {
    Missing,     // nothing there (or a parent is not a folder)
    Present,     // a file or folder
    Link,        // `detail`: where it points, relative to its folder or absolute
    Unreadable,  // `detail`: why it cannot be looked at
    PerProcess,  // `detail`: what makes it a view of the process that looks
  };
  Kind kind = Kind::Missing;
  std::string detail;
};

class PathInspector {
 public:
  virtual ~PathInspector() = default;
  virtual PathEntry inspect(const std::string& path) = 0;
};

// `path` must be absolute: "/..." (Posix); "X:\...", "\\server\share\..." or
// their "\\?\" forms (Windows, which also takes "/" as a separator). Paths are
// bytes (Posix) or WTF-8 (Windows). Fails for another form, a link loop, an
// unreadable component, ".." after a missing one, or a step through a
// per-process view, a device name or a stream.
IoResult<std::string> resolve_links(std::string_view path, PathStyle style,
                                    PathInspector& inspector);

// Whether `path` is `root` or lies below it, both resolved. Windows compares
// without regard to case, as its file systems do.
bool path_within(std::string_view path, std::string_view root, PathStyle style);

// Whether Windows opens `name`, as a path's last component, as a device in
// any folder: CON, NUL, COM1 and the like, whatever follows a dot.
bool is_windows_device_name(std::string_view name);

// resolve_links on this machine's file system.
IoResult<NativePath> resolve_real_path(const NativePath& absolute);

// Nothing when `path`, links followed, is an existing folder; else why not.
IoResult<void> check_existing_folder(const NativePath& path);

}  // namespace sorvane
