// Making local folders: the landing folders of a download from several
// hosts, which the desktop application expects to exist.
#pragma once

#include "base/io.h"
#include "text/native_string.h"

namespace sorvane {

// Creates the folder at the absolute `path` and any missing folder above
// it, as `mkdir -p` does. A folder already there, made by anyone (another
// host's turn, another program), is success; anything else in its place is
// a failure.
IoResult<void> create_folders(const NativePath& path);

}  // namespace sorvane
