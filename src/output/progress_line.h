// The one live line at the bottom of standard error, in the way ninja's
// LinePrinter owns its line: it remembers what it drew, redraws over it, and
// erases it before anything else is printed.
#pragma once

#include <cstddef>
#include <string_view>

#include "output/console_sink.h"

namespace sorvane {

class ProgressLine {
 public:
  explicit ProgressLine(ConsoleSink& err) : err_(err) {}

  // Draws `text` over the previous line, never ending it with a line feed.
  // Write errors are ignored: progress is a courtesy.
  void draw(std::string_view text);

  // Blanks the line and leaves the cursor at its start; does nothing when
  // nothing is drawn. Errors are ignored.
  void erase();

  bool is_drawn() const { return width_ > 0; }
  std::size_t width() const { return width_; }

 private:
  ConsoleSink& err_;
  std::size_t width_ = 0;  // terminal columns of what is on the line now
};

}  // namespace sorvane
