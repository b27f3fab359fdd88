// Unicode properties the tool needs, from tables generated out of the
// Unicode Character Database (see tools/gen_unicode_tables.py).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sorvane::text {

// The White_Space property.
bool is_white_space(char32_t code_point);

// Whether NFD leaves `code_point` as it is wherever it stands: no canonical
// decomposition, combining class 0. Two different texts made only of such
// code points are never canonically equivalent.
bool is_canonically_stable(char32_t code_point);

// A format character (general category Cf: zero-width and bidirectional
// marks, tag characters, the soft hyphen, ...) or the line or paragraph
// separator (Zl, Zp). None of them shows as itself in one line of text.
bool is_format_or_separator(char32_t code_point);

// Terminal columns of a UTF-8 text, non-East-Asian form: Wide and Fullwidth
// count 2, combining marks, zero-width characters and variation selectors 0,
// an emoji presentation sequence 2, everything else 1 (ambiguous and control
// characters included). Ill-formed bytes count as U+FFFD.
std::size_t display_width(std::string_view utf8);

// The Unicode default full lower-case mapping (no locale), with the
// Final_Sigma condition for U+03A3. Ill-formed bytes become U+FFFD.
std::string to_lower_full(std::string_view utf8);

// The text without White_Space characters at its ends / at its end.
std::string_view trim_white_space(std::string_view utf8);
std::string_view trim_trailing_white_space(std::string_view utf8);

}  // namespace sorvane::text
