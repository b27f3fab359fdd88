// Making local folders: the landing folders of a download from several
// hosts, which the desktop application expects to exist.
#pragma once

#include "base/io.h"
#include "text/native_string.h"

namespace sorvane {

// Creates the folder at the absolute `path` and any missing folder above
// it, as `mkdir -p` does. A folder already there, made by anyone (another
// host's turn, another program), is success; anything else in its place is
// a failure, a link to a folder too (symbolic link or junction): what is
// written into the folder would land wherever the link leads.
IoResult<void> create_folders(const NativePath& path);

// The failure of create_folders for a link in the folder's place.
inline IoError link_in_place() {
  return {IoErrorKind::InvalidInput, "a link is in its place, and nothing is written through it"};
}

}  // namespace sorvane
