#include "output/remote_output.h"

namespace sorvane {

IoResult<void> copy_output(ConsoleSink& sink, ByteSpan payload) {
  if (auto written = sink.write_all(payload); !written) return written;
  return sink.flush();
}

}  // namespace sorvane
