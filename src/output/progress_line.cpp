#include "output/progress_line.h"

#include <string>

#include "text/unicode.h"

namespace sorvane {

void ProgressLine::draw(std::string_view text) {
  const std::size_t width = text::display_width(text);
  std::string drawing = "\r";
  drawing += text;
  // A shorter line must blank the rest of the old one, then return so the
  // cursor rests right after the text.
  if (width_ > width) {
    drawing.append(width_ - width, ' ');
    drawing += '\r';
    drawing += text;
  }
  (void)err_.write_all(drawing);
  (void)err_.flush();
  width_ = width;
}

void ProgressLine::erase() {
  if (!is_drawn()) return;
  std::string blank = "\r";
  blank.append(width_, ' ');
  blank += '\r';
  (void)err_.write_all(blank);
  (void)err_.flush();
  width_ = 0;
}

}  // namespace sorvane
