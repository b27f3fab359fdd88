// Remote output kept whole without holding it in memory: each stream keeps
// a block in memory while its host runs and writes full blocks to one
// temporary file that every stream of the run shares (one descriptor
// however many hosts), so memory does not grow with the output. A short
// stream stays in memory only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/io.h"
#include "platform/sha256.h"
#include "platform/temp_file.h"

namespace sorvane {

// What a running stream holds before it writes to the file.
inline constexpr std::size_t SPILL_BLOCK = std::size_t{64} * 1024;
// An ended stream no longer than this stays in memory and never touches the file.
inline constexpr std::size_t KEPT_IN_MEMORY = std::size_t{4} * 1024;

using TempFileMaker = std::function<IoResult<std::unique_ptr<TempFile>>()>;

// The shared file, made when the first block is written: a run whose
// streams are all short makes none.
class SpillFile {
 public:
  explicit SpillFile(TempFileMaker make = create_temp_file) : make_(std::move(make)) {}

  // Writes `bytes` after everything written before; where they went.
  IoResult<std::uint64_t> append(ByteSpan bytes);
  IoResult<void> read_at(std::uint64_t offset, MutableByteSpan bytes) const;

 private:
  TempFileMaker make_;
  mutable std::mutex mutex_;
  std::unique_ptr<TempFile> file_;
  std::uint64_t end_ = 0;
};

// One stream of one host. Filled from one thread at a time, read after it
// has finished.
class SpilledStream {
 public:
  explicit SpilledStream(SpillFile& file) : file_(&file) {}

  IoResult<void> append(ByteSpan chunk);
  // The stream has ended: what it holds goes to the file unless the whole
  // stream is short, and its digest is final.
  IoResult<void> finish();

  std::uint64_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  bool ends_with_line_feed() const { return last_byte_ == '\n'; }
  // The SHA-256 of every byte, once finished.
  const Sha256Digest& digest() const { return digest_; }

  // Hands every byte, up to `limit` of them, in order and in pieces, to `take`.
  IoResult<void> replay(const std::function<IoResult<void>(ByteSpan)>& take,
                        std::uint64_t limit = UINT64_MAX) const;
  // Whether both hold the same bytes; a stream that cannot be read back
  // is the same as no other.
  bool same_bytes(const SpilledStream& other) const;

 private:
  struct Extent {
    std::uint64_t start;   // where its bytes begin in the stream
    std::uint64_t offset;  // ... and in the file
    std::uint64_t size;
  };

  IoResult<void> write_out(ByteSpan bytes);
  // Fills `bytes` from the stream's byte `from` on.
  IoResult<void> read(std::uint64_t from, MutableByteSpan bytes) const;

  SpillFile* file_;
  std::vector<Extent> written_;  // in order; `held_` follows them
  std::uint64_t written_size_ = 0;
  std::string held_;
  std::uint64_t size_ = 0;
  char last_byte_ = 0;
  std::optional<Sha256Hasher> hasher_ = Sha256Hasher();
  Sha256Digest digest_{};
};

}  // namespace sorvane
