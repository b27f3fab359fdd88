#include "session/stream_capture.h"

#include <algorithm>
#include <string_view>

#include "text/utf8.h"

namespace sorvane {
namespace {

std::size_t at_most(std::uint64_t limit) {
  return static_cast<std::size_t>(std::min<std::uint64_t>(limit, SIZE_MAX));
}

}  // namespace

StreamCapture::StreamCapture(std::uint64_t limit, Keep keep)
    : head_limit_(at_most(keep == Keep::Head ? limit : limit - limit / 2)),
      tail_limit_(at_most(keep == Keep::Head ? 0 : limit / 2)) {}

void StreamCapture::append(ByteSpan chunk) {
  std::string_view bytes(reinterpret_cast<const char*>(chunk.data()), chunk.size());
  seen_ += bytes.size();
  const std::size_t to_head = std::min(head_limit_ - head_.size(), bytes.size());
  head_.append(bytes.substr(0, to_head));
  bytes.remove_prefix(to_head);
  if (bytes.empty() || tail_limit_ == 0) return;
  if (bytes.size() >= tail_limit_) {
    tail_.assign(bytes.substr(bytes.size() - tail_limit_));
    oldest_ = 0;
    return;
  }
  const std::size_t filling = std::min(tail_limit_ - tail_.size(), bytes.size());
  tail_.append(bytes.substr(0, filling));
  bytes.remove_prefix(filling);
  while (!bytes.empty()) {
    const std::size_t run = std::min(tail_limit_ - oldest_, bytes.size());
    tail_.replace(oldest_, run, bytes.substr(0, run));
    oldest_ = (oldest_ + run) % tail_limit_;
    bytes.remove_prefix(run);
  }
}

std::string StreamCapture::tail_in_order() const {
  return tail_.substr(oldest_) + tail_.substr(0, oldest_);
}

std::string StreamCapture::bytes() const { return head_ + tail_in_order(); }

std::string StreamCapture::text() const {
  if (!truncated()) return text::utf8_lossy(bytes());
  return text::utf8_lossy(head_) + text::utf8_lossy(tail_in_order());
}

}  // namespace sorvane
