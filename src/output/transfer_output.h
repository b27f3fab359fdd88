// What an upload or download shows: the live progress line on standard
// error and the final summary, as a sentence or as JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/io.h"
#include "output/console_sink.h"
#include "output/progress_line.h"
#include "protocol/reply.h"

namespace sorvane {

// A byte count for people: "1023 B", "1.5 KB", ... up to TB, one decimal.
std::string format_size(std::uint64_t bytes);

// "已传输 3 个文件，共 1.5 MB", the skipped and failed counts where not 0,
// and a line feed.
std::string summary_sentence(const TransferSummary& summary);

// Shows the counters on the progress line.
void draw_progress(const TransferCounters& counters, ProgressLine& line);

// The summary sentence on `out` and the failed files on `err`, or one JSON
// object on `out` when streams.json is set. A failed write is returned.
IoResult<void> print_summary(const TransferSummary& summary, OutputStreams& streams);

}  // namespace sorvane
