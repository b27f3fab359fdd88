#include "text/utf8.h"

#include <cstring>

namespace sorvane::text {
namespace {

constexpr char32_t MAX_CODE_POINT = 0x10FFFF;

bool is_high_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low_surrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

struct LeadInfo {
  std::size_t length;       // 0: the byte can't start a sequence
  unsigned char second_lo;  // allowed range of the second byte
  unsigned char second_hi;
};

// The well-formed byte sequences of UTF-8: the second byte's range depends
// on the lead byte, which is what excludes overlongs, surrogates and values
// above U+10FFFF. `allow_surrogates` widens ED's range for WTF-8.
LeadInfo lead_info(unsigned char lead, bool allow_surrogates) {
  if (lead < 0x80) return {1, 0, 0};
  if (lead < 0xC2) return {0, 0, 0};
  if (lead < 0xE0) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, static_cast<unsigned char>(allow_surrogates ? 0xBF : 0x9F)};
  if (lead < 0xF0) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead < 0xF4) return {4, 0x80, 0xBF};
  if (lead == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

DecodedChar invalid(std::size_t length, bool truncated = false) {
  return {REPLACEMENT_CHAR, length, false, truncated};
}

DecodedChar decode(std::string_view bytes, bool allow_surrogates) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  const unsigned char lead = p[0];
  if (lead < 0x80) return {lead, 1, true, false};

  const LeadInfo info = lead_info(lead, allow_surrogates);
  if (info.length == 0) return invalid(1);
  if (size < 2) return invalid(1, true);
  if (p[1] < info.second_lo || p[1] > info.second_hi) return invalid(1);

  char32_t value = lead & (0x7F >> info.length);
  value = (value << 6) | (p[1] & 0x3F);
  for (std::size_t i = 2; i < info.length; ++i) {
    if (i >= size) return invalid(i, true);
    if (!is_continuation(p[i])) return invalid(i);
    value = (value << 6) | (p[i] & 0x3F);
  }
  return {value, info.length, true, false};
}

// Bytes from `from` on that are plain ASCII.
std::size_t ascii_run(std::string_view bytes, std::size_t from) {
  std::size_t i = from;
  const std::size_t size = bytes.size();
  // Eight bytes at a time: no byte has its high bit set.
  while (i + 8 <= size) {
    std::uint64_t chunk = 0;
    std::memcpy(&chunk, bytes.data() + i, sizeof chunk);
    if ((chunk & 0x8080808080808080ULL) != 0) break;
    i += 8;
  }
  while (i < size && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
  return i - from;
}

void append_utf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

// Walks UTF-16, combining pairs; `unpaired` decides what an unpaired
// surrogate becomes and returns false to abandon the conversion.
template <class OnUnpaired>
bool utf16_walk(std::u16string_view utf16, std::string& out, OnUnpaired unpaired) {
  out.reserve(out.size() + utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char32_t unit = utf16[i];
    if (!is_surrogate(unit)) {
      append_utf8(out, unit);
    } else if (is_high_surrogate(unit) && i + 1 < utf16.size() && is_low_surrogate(utf16[i + 1])) {
      append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (utf16[i + 1] - 0xDC00));
      ++i;
    } else if (!unpaired(out, unit)) {
      return false;
    }
  }
  return true;
}

// Appends the raw three-byte form of any value up to U+FFFF, surrogates included.
void append_three_bytes(std::string& out, char32_t c) {
  out.push_back(static_cast<char>(0xE0 | (c >> 12)));
  out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
  out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
}

std::u16string utf8_like_to_utf16(std::string_view bytes, bool allow_surrogates) {
  std::u16string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const DecodedChar d = decode(bytes.substr(i), allow_surrogates);
    append_utf16(out, d.code_point);
    i += d.length;
  }
  return out;
}

}  // namespace

DecodedChar decode_utf8_char(std::string_view bytes) { return decode(bytes, false); }

void append_utf8(std::string& out, char32_t c) {
  if (c > MAX_CODE_POINT || is_surrogate(c)) c = REPLACEMENT_CHAR;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    append_three_bytes(out, c);
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool is_valid_utf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    i += ascii_run(bytes, i);
    if (i == bytes.size()) break;
    const DecodedChar d = decode(bytes.substr(i), false);
    if (!d.valid) return false;
    i += d.length;
  }
  return true;
}

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  const std::size_t consumed = repair_utf8_prefix(bytes, out);
  // A truncated tail is ill-formed too once no more bytes can come.
  if (consumed < bytes.size()) out += REPLACEMENT_UTF8;
  return out;
}

std::size_t repair_utf8_prefix(std::string_view bytes, std::string& out) {
  out.reserve(out.size() + bytes.size());
  std::size_t i = 0;
  std::size_t run_start = 0;  // start of the valid bytes not yet copied
  while (i < bytes.size()) {
    i += ascii_run(bytes, i);
    if (i == bytes.size()) break;
    const DecodedChar d = decode(bytes.substr(i), false);
    if (d.valid) {
      i += d.length;
      continue;
    }
    out.append(bytes.substr(run_start, i - run_start));
    if (d.truncated) return i;  // more bytes may complete it
    out += REPLACEMENT_UTF8;
    i += d.length;
    run_start = i;
  }
  out.append(bytes.substr(run_start));
  return bytes.size();
}

std::optional<std::string> utf16_to_utf8(std::u16string_view utf16) {
  std::string out;
  if (!utf16_walk(utf16, out, [](std::string&, char32_t) { return false; })) return std::nullopt;
  return out;
}

std::string utf16_to_utf8_lossy(std::u16string_view utf16) {
  std::string out;
  utf16_walk(utf16, out, [](std::string& o, char32_t) {
    o += REPLACEMENT_UTF8;
    return true;
  });
  return out;
}

std::string utf16_to_wtf8(std::u16string_view utf16) {
  std::string out;
  utf16_walk(utf16, out, [](std::string& o, char32_t unit) {
    append_three_bytes(o, unit);
    return true;
  });
  return out;
}

std::u16string wtf8_to_utf16(std::string_view wtf8) { return utf8_like_to_utf16(wtf8, true); }

std::u16string utf8_to_utf16(std::string_view utf8) { return utf8_like_to_utf16(utf8, false); }

}  // namespace sorvane::text
