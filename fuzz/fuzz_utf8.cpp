// The UTF-8 repair that stands between remote output and a terminal:
// whatever the bytes and wherever a frame boundary falls, only valid UTF-8
// comes out, at most three bytes are held back, and splitting the input
// changes nothing but when the text appears.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/unicode.h"
#include "text/utf8.h"

using namespace sorvane::text;

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// What a console sink shows for `input` fed in two writes split at `cut`.
std::string shown_in_two_writes(std::string_view input, std::size_t cut) {
  std::string shown;
  std::string pending(input.substr(0, cut));
  std::size_t used = repair_utf8_prefix(pending, shown);
  check(pending.size() - used <= 3);
  pending = pending.substr(used) + std::string(input.substr(cut));
  used = repair_utf8_prefix(pending, shown);
  check(pending.size() - used <= 3);
  // End of run: an incomplete tail becomes one U+FFFD.
  if (used < pending.size()) shown += REPLACEMENT_UTF8;
  return shown;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t cut = data[0] % size;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

  const std::string lossy = utf8_lossy(input);
  check(is_valid_utf8(lossy));
  check(is_valid_utf8(input) == (lossy == input));
  check(shown_in_two_writes(input, std::min(cut, input.size())) == lossy);

  check(is_valid_utf8(to_lower_full(input)));
  (void)display_width(input);
  (void)trim_white_space(input);

  // Any UTF-16, unpaired surrogates included, survives the trip through WTF-8.
  std::u16string utf16(input.size() / 2, u'\0');
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    utf16[i] = static_cast<char16_t>(static_cast<unsigned char>(input[2 * i]) |
                                     static_cast<unsigned char>(input[2 * i + 1]) << 8);
  }
  check(wtf8_to_utf16(utf16_to_wtf8(utf16)) == utf16);
  check(is_valid_utf8(utf16_to_utf8_lossy(utf16)));
  return 0;
}
