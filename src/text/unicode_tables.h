// Tables generated from the Unicode Character Database by
// tools/gen_unicode_tables.py into unicode_tables.cpp. Every table is sorted
// by code point, without overlaps, for binary search.
#pragma once

#include <cstdint>
#include <span>

namespace sorvane::text::tables {

struct Range {
  char32_t first;
  char32_t last;
};

// Code points whose width is not the default of one column.
struct WidthRange {
  char32_t first;
  char32_t last;
  std::uint8_t width;
};

// first..last map to code point + delta, for every `stride`-th code point
// from `first` (upper and lower case alternate in many blocks).
struct LowerRun {
  char32_t first;
  char32_t last;
  std::int32_t delta;
  std::uint8_t stride;
};

// A lower-case mapping of more than one code point; unused slots are 0.
struct LowerExpansion {
  char32_t code_point;
  char32_t lower[3];
};

extern const std::span<const Range> WHITE_SPACE;
extern const std::span<const Range> CASED;
extern const std::span<const Range> CASE_IGNORABLE;
// Characters with an emoji-style variation sequence (followed by U+FE0F).
extern const std::span<const Range> EMOJI_STYLE_BASE;
// A canonical decomposition or a non-zero combining class: NFD changes or
// moves them.
extern const std::span<const Range> NOT_CANONICALLY_STABLE;
// General categories Cf, Zl and Zp.
extern const std::span<const Range> FORMAT_OR_SEPARATOR;
extern const std::span<const WidthRange> WIDTHS;
extern const std::span<const LowerRun> LOWER_RUNS;
extern const std::span<const LowerExpansion> LOWER_EXPANSIONS;

}  // namespace sorvane::text::tables
