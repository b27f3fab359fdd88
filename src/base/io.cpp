#include "base/io.h"

#include <algorithm>

namespace sorvane {

IoResult<void> write_all(ByteWriter& writer, ByteSpan bytes) {
  while (!bytes.empty()) {
    auto written = writer.write_some(bytes);
    if (!written) {
      if (written.error().kind == IoErrorKind::Interrupted) continue;
      return fail(std::move(written).error());
    }
    if (*written == 0) {
      return fail(IoError{IoErrorKind::WriteZero, "failed to write whole buffer"});
    }
    bytes = bytes.subspan(*written);
  }
  return {};
}

IoResult<std::string> read_to_end(ByteReader& reader, std::size_t limit) {
  constexpr std::size_t CHUNK = std::size_t{64} * 1024;
  std::string data;
  for (;;) {
    // One byte past the limit is enough to know that the stream is too long.
    const std::size_t room = limit - data.size();
    const std::size_t start = data.size();
    data.resize(start + (room < CHUNK ? room + 1 : CHUNK));
    auto got = reader.read_some(
        MutableByteSpan(reinterpret_cast<std::uint8_t*>(data.data()) + start, data.size() - start));
    if (!got && got.error().kind != IoErrorKind::Interrupted) return fail(std::move(got).error());
    const std::size_t count = got ? *got : 0;
    data.resize(start + count);
    if (data.size() > limit) return fail(longer_than(limit));
    if (got && count == 0) return data;
  }
}

}  // namespace sorvane
