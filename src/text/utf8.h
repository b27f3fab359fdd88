// UTF-8 and UTF-16 conversions, with the Unicode Standard's "maximal
// subpart" practice for replacing ill-formed sequences by U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sorvane::text {

inline constexpr char32_t REPLACEMENT_CHAR = U'\uFFFD';
inline constexpr std::string_view REPLACEMENT_UTF8 = "\xEF\xBF\xBD";

struct DecodedChar {
  char32_t code_point;  // U+FFFD when !valid
  std::size_t length;   // bytes used: the character, or the maximal invalid subpart
  bool valid;
  bool truncated;  // ran out of bytes inside a sequence that could still be completed
};

// Decodes the character at the start of `bytes` (which must not be empty).
DecodedChar decode_utf8_char(std::string_view bytes);

void append_utf8(std::string& out, char32_t code_point);

bool is_valid_utf8(std::string_view bytes);

// Every ill-formed part (maximal subpart) replaced by one U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// Appends the valid text of `bytes` to `out`, replacing ill-formed parts,
// and stops before a truncated sequence at the very end that more bytes could
// complete. Returns how many bytes were consumed; the rest is that tail.
std::size_t repair_utf8_prefix(std::string_view bytes, std::string& out);

// UTF-16 <-> UTF-8. The strict form fails on unpaired surrogates; the lossy
// form shows them as U+FFFD; WTF-8 keeps them (as three-byte sequences), so
// a Windows argument can round-trip through a byte-oriented parser.
std::optional<std::string> utf16_to_utf8(std::u16string_view utf16);
std::string utf16_to_utf8_lossy(std::u16string_view utf16);
std::string utf16_to_wtf8(std::u16string_view utf16);
std::u16string wtf8_to_utf16(std::string_view wtf8);  // UTF-8 is a subset
std::u16string utf8_to_utf16(std::string_view utf8);  // invalid parts as U+FFFD

}  // namespace sorvane::text
