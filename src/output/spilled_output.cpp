#include "output/spilled_output.h"

#include <algorithm>

namespace sorvane {
namespace {

std::string_view as_text(ByteSpan bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

IoResult<std::uint64_t> SpillFile::append(ByteSpan bytes) {
  TempFile* file = nullptr;
  std::uint64_t offset = 0;
  {
    const std::lock_guard lock(mutex_);
    if (!file_) {
      auto made = make_();
      if (!made) return fail(std::move(made).error());
      file_ = std::move(*made);
    }
    file = file_.get();
    offset = end_;
    end_ += bytes.size();
  }
  // Places never overlap: the write needs no lock.
  if (auto written = file->write_at(offset, bytes); !written)
    return fail(std::move(written).error());
  return offset;
}

IoResult<void> SpillFile::read_at(std::uint64_t offset, MutableByteSpan bytes) const {
  TempFile* file = nullptr;
  {
    const std::lock_guard lock(mutex_);
    file = file_.get();
  }
  if (file == nullptr) return fail(IoError{IoErrorKind::UnexpectedEof, "nothing was spilled"});
  return file->read_at(offset, bytes);
}

IoResult<void> SpilledStream::append(ByteSpan chunk) {
  if (chunk.empty()) return {};
  if (held_.size() + chunk.size() < SPILL_BLOCK) {
    held_.append(as_text(chunk));
  } else {
    if (!held_.empty()) {
      if (auto written = write_out(as_bytes(held_)); !written) return written;
      held_.clear();
    }
    // A large chunk goes out as it is, a small one waits for more.
    if (chunk.size() >= SPILL_BLOCK) {
      if (auto written = write_out(chunk); !written) return written;
    } else {
      held_.append(as_text(chunk));
    }
  }
  // Counted once kept: a stream that failed holds what it had before.
  hasher_->update(chunk);
  size_ += chunk.size();
  last_byte_ = static_cast<char>(chunk.back());
  return {};
}

IoResult<void> SpilledStream::finish() {
  if (hasher_) digest_ = hasher_->finish();
  hasher_.reset();
  if (size_ > KEPT_IN_MEMORY && !held_.empty()) {
    if (auto written = write_out(as_bytes(held_)); !written) return written;
    std::string().swap(held_);
  }
  held_.shrink_to_fit();
  return {};
}

IoResult<void> SpilledStream::write_out(ByteSpan bytes) {
  auto offset = file_->append(bytes);
  if (!offset) return fail(std::move(offset).error());
  // Blocks go out in the stream's order, so each starts where the last ended;
  // one host alone writes them one after another in the file as well.
  if (!written_.empty() && written_.back().offset + written_.back().size == *offset) {
    written_.back().size += bytes.size();
  } else {
    written_.push_back({written_size_, *offset, bytes.size()});
  }
  written_size_ += bytes.size();
  return {};
}

IoResult<void> SpilledStream::read(std::uint64_t from, MutableByteSpan bytes) const {
  const auto after =
      std::upper_bound(written_.begin(), written_.end(), from,
                       [](std::uint64_t at, const Extent& e) { return at < e.start; });
  auto extent = after == written_.begin() ? written_.end() : after - 1;
  while (!bytes.empty()) {
    if (extent == written_.end() || from >= extent->start + extent->size) {
      // Past what was written out: the held bytes.
      const std::uint64_t held_start = written_size_;
      if (from < held_start || from - held_start + bytes.size() > held_.size()) {
        return fail(IoError{IoErrorKind::InvalidInput, "read past the stream"});
      }
      std::copy_n(held_.data() + (from - held_start), bytes.size(),
                  reinterpret_cast<char*>(bytes.data()));
      return {};
    }
    const std::uint64_t within = from - extent->start;
    const auto piece =
        static_cast<std::size_t>(std::min<std::uint64_t>(extent->size - within, bytes.size()));
    if (auto got = file_->read_at(extent->offset + within, bytes.first(piece)); !got) return got;
    bytes = bytes.subspan(piece);
    from += piece;
    ++extent;
  }
  return {};
}

IoResult<void> SpilledStream::replay(const std::function<IoResult<void>(ByteSpan)>& take,
                                     std::uint64_t limit) const {
  std::vector<std::uint8_t> buffer(
      static_cast<std::size_t>(std::min<std::uint64_t>(SPILL_BLOCK, size_)));
  const std::uint64_t end = std::min(limit, size_);
  for (std::uint64_t at = 0; at < end;) {
    const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - at));
    const MutableByteSpan part(buffer.data(), piece);
    if (auto got = read(at, part); !got) return got;
    if (auto taken = take(part); !taken) return taken;
    at += piece;
  }
  return {};
}

bool SpilledStream::same_bytes(const SpilledStream& other) const {
  if (size_ != other.size_) return false;
  std::vector<std::uint8_t> mine(SPILL_BLOCK);
  std::vector<std::uint8_t> theirs(SPILL_BLOCK);
  for (std::uint64_t at = 0; at < size_;) {
    const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(SPILL_BLOCK, size_ - at));
    if (!read(at, MutableByteSpan(mine.data(), piece)) ||
        !other.read(at, MutableByteSpan(theirs.data(), piece)) ||
        !std::equal(mine.begin(), mine.begin() + static_cast<std::ptrdiff_t>(piece),
                    theirs.begin())) {
      return false;
    }
    at += piece;
  }
  return true;
}

}  // namespace sorvane
