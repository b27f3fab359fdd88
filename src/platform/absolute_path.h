// The platform's full-path rule: resolved against the current directory,
// "." and ".." folded, separators normalised, links not followed, the path
// need not exist. Windows: GetFullPathNameW (\\?\ paths unchanged).
#pragma once

#include <string>
#include <string_view>

#include "base/io.h"
#include "text/native_string.h"

namespace sorvane {

inline constexpr std::string_view EMPTY_PATH_TEXT = "cannot make an empty path absolute";

// The local path resolved against the current directory. Fails with
// "cannot make an empty path absolute" for an empty path.
IoResult<NativePath> make_absolute(const NativePath& path);

// The POSIX rule on its own, with the current directory given, so it can be
// exercised anywhere: relative paths are joined to `cwd`, "." dropped, ".."
// drops the previous component ("/.." stays "/"), repeated and trailing "/"
// removed. Symbolic links are not looked at.
IoResult<std::string> make_absolute_posix(std::string_view path, std::string_view cwd);

}  // namespace sorvane
