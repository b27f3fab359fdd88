#include "platform/private_log.h"

#include <algorithm>
#include <vector>

namespace sorvane {

IoResult<std::string> read_last_line(std::uint64_t size, const ReadAt& read_at) {
  if (size == 0) return std::string();
  // The file's last byte may be the line's own line feed; look before it.
  std::uint64_t start = 0;
  std::uint64_t searched_from = size - 1;
  std::size_t step = 4096;
  std::vector<std::uint8_t> chunk;
  while (searched_from > 0) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(step, searched_from));
    searched_from -= count;
    chunk.resize(count);
    if (auto read = read_at(searched_from, chunk); !read) return fail(std::move(read).error());
    const auto feed = std::find(chunk.rbegin(), chunk.rend(), '\n');
    if (feed != chunk.rend()) {
      start = searched_from + static_cast<std::uint64_t>(chunk.rend() - feed);
      break;
    }
    step = std::min<std::size_t>(step * 2, std::size_t{1} << 20);
  }
  std::string line(static_cast<std::size_t>(size - start), '\0');
  MutableByteSpan bytes(reinterpret_cast<std::uint8_t*>(line.data()), line.size());
  if (auto read = read_at(start, bytes); !read) return fail(std::move(read).error());
  return line;
}

}  // namespace sorvane
