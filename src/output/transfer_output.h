// What an upload or download shows: the live progress line on standard
// error and the final summary, as a sentence or as JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "output/console_sink.h"
#include "platform/io.h"
#include "protocol/reply.h"

namespace sorvane {

// A byte count for people: "1023 B", "1.5 KB", ... up to TB, one decimal.
std::string format_size(std::uint64_t bytes);

// Draws the progress line over the previous one (whose width is
// `progress_width`), never ending it with a line feed, and records the new
// width. Write errors are ignored: progress is a courtesy.
void draw_progress(const TransferCounters& counters, ConsoleSink& err,
                   std::size_t& progress_width);

// Blanks the progress line, leaves the cursor at its start and resets
// `progress_width` to 0. Errors are ignored.
void erase_progress(ConsoleSink& err, std::size_t& progress_width);

// The summary sentence on `out` and the failed files on `err`, or one JSON
// object on `out` when streams.json is set. A failed write is returned.
IoResult<void> print_summary(const TransferSummary& summary, OutputStreams& streams);

}  // namespace sorvane
