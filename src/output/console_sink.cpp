#include "output/console_sink.h"

#include "text/utf8.h"

namespace sorvane {

ConsoleSink::ConsoleSink(OutputStream& stream, bool is_terminal)
    : stream_(stream), is_terminal_(is_terminal) {}

IoResult<void> ConsoleSink::write_all(ByteSpan bytes) {
  if (!is_terminal_) return stream_.write_all(bytes);
  // A terminal gets only valid UTF-8: ill-formed parts are replaced, and the
  // start of a character cut by a frame boundary waits for its rest.
  pending_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::string repaired;
  const std::size_t consumed = text::repair_utf8_prefix(pending_, repaired);
  pending_.erase(0, consumed);
  if (repaired.empty()) return {};
  return stream_.write_all(as_bytes(repaired));
}

IoResult<void> ConsoleSink::flush() { return stream_.flush(); }

void ConsoleSink::finish() {
  if (!pending_.empty()) {
    pending_.clear();
    // The character will never be completed: show that something was there.
    if (!stream_.write_all(as_bytes(text::REPLACEMENT_UTF8))) return;
  }
  (void)stream_.flush();
}

}  // namespace sorvane
