// Placeholder: replaced by the real implementation.
#include "text/utf8.h"

namespace sorvane::text {
std::string utf16_to_utf8_lossy(std::u16string_view utf16) {
  std::string out;
  for (char16_t c : utf16) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}
}  // namespace sorvane::text
