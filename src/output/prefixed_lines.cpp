#include "output/prefixed_lines.h"

#include <algorithm>
#include <array>

#include "output/colour.h"
#include "output/inert_text.h"

namespace sorvane {
namespace {

std::string_view as_text(ByteSpan bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool is_continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Where to cut a piece of at most `longest` bytes without splitting a UTF-8
// character (when the text is UTF-8 at all).
std::size_t piece_end(std::string_view text, std::size_t longest) {
  if (text.size() <= longest) return text.size();
  std::size_t end = longest;
  for (int back = 0; back < 3 && end > 1 && is_continuation_byte(text[end]); ++back) --end;
  return is_continuation_byte(text[end]) ? longest : end;
}

// Foreground colours that read on dark and light backgrounds alike.
constexpr std::array<std::string_view, 6> HOST_COLOURS = {"\x1b[36m", "\x1b[33m", "\x1b[35m",
                                                          "\x1b[32m", "\x1b[34m", "\x1b[31m"};

}  // namespace

PrefixedLines::PrefixedLines(std::string prefix, std::size_t longest)
    : prefix_(std::move(prefix)), longest_(std::max<std::size_t>(longest, 4)) {}

void PrefixedLines::emit(std::string_view line, std::string& ready) {
  ready.append(prefix_).append(line).push_back('\n');
}

std::size_t PrefixedLines::emit_long_pieces(std::string_view line, std::string& ready) {
  std::size_t done = 0;
  while (line.size() - done > longest_) {
    const std::size_t end = piece_end(line.substr(done), longest_);
    emit(line.substr(done, end), ready);
    done += end;
  }
  return done;
}

void PrefixedLines::add(ByteSpan chunk, std::string& ready) {
  std::string_view text = as_text(chunk);
  for (auto newline = text.find('\n'); newline != std::string_view::npos;
       newline = text.find('\n')) {
    std::string_view line = text.substr(0, newline);
    if (!partial_.empty()) {
      partial_.append(line);
      line = partial_;
    }
    line.remove_prefix(emit_long_pieces(line, ready));
    emit(line, ready);
    partial_.clear();
    text.remove_prefix(newline + 1);
  }
  partial_.append(text);
  partial_.erase(0, emit_long_pieces(partial_, ready));
}

void PrefixedLines::finish(std::string& ready) {
  if (partial_.empty()) return;
  emit(partial_, ready);
  partial_.clear();
  partial_.shrink_to_fit();
}

std::string host_prefix(std::string_view name, std::size_t index, bool colour) {
  // A name is one label on one line, whoever chose it.
  const std::string shown = inert(name);
  if (!colour) return shown + ": ";
  return std::string(HOST_COLOURS[index % HOST_COLOURS.size()]) + shown + ":" +
         std::string(COLOUR_RESET) + " ";
}

}  // namespace sorvane
