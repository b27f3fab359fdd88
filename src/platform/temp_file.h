// A temporary file that no other program can find by name and that the
// system removes when it is closed, or when the process ends however it
// ends: room for data too large to keep in memory.
#pragma once

#include <cstdint>
#include <memory>

#include "base/io.h"

namespace sorvane {

class TempFile {
 public:
  virtual ~TempFile() = default;
  // Writes every byte at `offset`; several threads may write at once to
  // places that do not overlap.
  virtual IoResult<void> write_at(std::uint64_t offset, ByteSpan bytes) = 0;
  // Fills the whole of `bytes` from `offset`; ending before is an error.
  virtual IoResult<void> read_at(std::uint64_t offset, MutableByteSpan bytes) = 0;
};

// A new, empty file in the user's folder for temporary files ($TMPDIR or
// /tmp; GetTempPathW on Windows), readable by the user alone. On POSIX it
// has no name at all (O_TMPFILE, or unlinked at once); on Windows it is
// deleted when its one handle closes.
IoResult<std::unique_ptr<TempFile>> create_temp_file();

}  // namespace sorvane
