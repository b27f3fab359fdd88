#include "base/io.h"

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

}  // namespace sorvane
