// Remote command output: each output frame's bytes go to their stream as
// they arrive, flushed at once so the interleaving follows the frames.
#pragma once

#include "base/io.h"
#include "output/console_sink.h"

namespace sorvane {

// Writes every byte of `payload` through `sink`, then flushes it, even for
// an empty payload. Nothing is added, removed or reordered.
IoResult<void> copy_output(ConsoleSink& sink, ByteSpan payload);

}  // namespace sorvane
