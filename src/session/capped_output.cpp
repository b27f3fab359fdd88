#include "session/capped_output.h"

namespace sorvane {

void CappedOutput::append(ByteSpan chunk) {
  const std::uint64_t room = limit_ - bytes_.size();
  const std::size_t kept = chunk.size() <= room ? chunk.size() : static_cast<std::size_t>(room);
  bytes_.append(reinterpret_cast<const char*>(chunk.data()), kept);
  if (kept < chunk.size()) truncated_ = true;
}

}  // namespace sorvane
