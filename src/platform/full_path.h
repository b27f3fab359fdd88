// The platform's full-path rule: resolved against the current directory,
// "." and ".." folded, separators normalised, links not followed, the path
// need not exist. Windows: GetFullPathNameW (\\?\ paths unchanged).
#pragma once

#include "platform/io.h"
#include "platform/native_string.h"

namespace sorvane {

// Fails with "cannot make an empty path absolute" for an empty path.
IoResult<NativePath> full_path(const NativePath& path);

}  // namespace sorvane
