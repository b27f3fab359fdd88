#include "protocol/json_reader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "text/utf8.h"

namespace sorvane {
namespace {

using Token = JsonReader::Token;
using Step = JsonReader::Step;

bool is_digit(std::string_view text, std::size_t at) {
  return at < text.size() && text[at] >= '0' && text[at] <= '9';
}

const char* token_name(Token token) {
  static constexpr std::array<const char*, 15> kNames = {"'['",
                                                         "']'",
                                                         "'{'",
                                                         "'}'",
                                                         "':'",
                                                         "','",
                                                         "string literal",
                                                         "number literal",
                                                         "number literal",
                                                         "number literal",
                                                         "true literal",
                                                         "false literal",
                                                         "null literal",
                                                         "end of input",
                                                         "<parse error>"};
  return kNames[static_cast<std::size_t>(token)];
}

std::string control_character_message(unsigned char c) {
  static constexpr std::array<const char*, 32> kNames = {
      "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
      "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
      "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
  static constexpr std::string_view kShort = "btn\0fr";  // for 0x08 to 0x0D
  std::array<char, 8> hex{};
  std::snprintf(hex.data(), hex.size(), "%04X", c);
  std::string message = std::string("invalid string: control character U+") + hex.data() + " (" +
                        kNames[c] + ") must be escaped to \\u" + hex.data();
  if (c >= 0x08 && c <= 0x0D && kShort[c - 0x08] != '\0') {
    message += " or \\";
    message += kShort[c - 0x08];
  }
  return message;
}

// Descriptions go to a terminal as one short line, whatever the text held.
std::string printable_excerpt(std::string_view message) {
  constexpr std::size_t kMax = 300;
  if (message.size() <= kMax) return text::utf8_lossy(message);
  std::size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(message[cut]) & 0xC0) == 0x80) --cut;
  return text::utf8_lossy(message.substr(0, cut)) + "...";
}

constexpr const char* kHexDigits = "invalid string: '\\u' must be followed by 4 hex digits";
constexpr const char* kLoneHigh =
    "invalid string: surrogate U+D800..U+DBFF must be followed by U+DC00..U+DFFF";
constexpr const char* kLoneLow =
    "invalid string: surrogate U+DC00..U+DFFF must follow U+D800..U+DBFF";
constexpr const char* kBadEscape = "invalid string: forbidden character after backslash";
constexpr const char* kBadUtf8 = "invalid string: ill-formed UTF-8 byte";

}  // namespace

std::string describe(TextPosition position) {
  return " at line " + std::to_string(position.line) + ", column " +
         std::to_string(position.column);
}

TextPosition locate(std::string_view text, std::size_t offset) {
  const std::string_view before = text.substr(0, offset);
  const std::size_t line_start = before.rfind('\n') + 1;  // 0 when there is none
  return {static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n')) + 1,
          offset - line_start + 1};
}

JsonReader::Token JsonReader::lex_other(char first) {
  switch (first) {
    case 't':
      return lex_literal("true", Token::True);
    case 'f':
      return lex_literal("false", Token::False);
    case 'n':
      return lex_literal("null", Token::Null);
    case '\0':  // the library took a NUL byte for the end of the text
      return token_ = Token::EndOfInput;
    default:
      if (first == '-' || (first >= '0' && first <= '9')) return lex_number();
      return fail_token("invalid literal", at_);
  }
}

JsonReader::Token JsonReader::fail_token(std::string message, std::size_t consumed) {
  message_ = std::move(message);
  consumed_ = consumed;
  return token_ = Token::Malformed;
}

JsonReader::Token JsonReader::lex_literal(std::string_view word, Token token) {
  for (std::size_t i = 1; i < word.size(); ++i) {
    if (at_ == text_.size()) return fail_token("invalid literal", at_ + 1);
    if (text_[at_++] != word[i]) return fail_token("invalid literal", at_);
  }
  end_ = consumed_ = at_;
  furthest_ = at_ - 1;
  return token_ = token;
}

JsonReader::Token JsonReader::lex_number() {
  quoted_from_ = start_;
  const std::size_t size = text_.size();
  std::size_t i = start_;
  const bool negative = text_[i] == '-';
  if (negative && !is_digit(text_, ++i)) {
    return fail_token("invalid number; expected digit after '-'", std::min(i, size) + 1);
  }
  const std::size_t digits = i;
  if (text_[i] == '0') {
    ++i;
  } else {
    while (is_digit(text_, i)) ++i;
  }
  const std::size_t digits_end = i;
  if (i < size && text_[i] == '.') {
    if (!is_digit(text_, ++i)) {
      return fail_token("invalid number; expected digit after '.'", std::min(i, size) + 1);
    }
    while (is_digit(text_, i)) ++i;
  }
  if (i < size && (text_[i] == 'e' || text_[i] == 'E')) {
    ++i;
    if (i < size && (text_[i] == '+' || text_[i] == '-')) {
      if (!is_digit(text_, ++i)) {
        return fail_token("invalid number; expected digit after exponent sign",
                          std::min(i, size) + 1);
      }
    } else if (!is_digit(text_, i)) {
      return fail_token("invalid number; expected '+', '-', or digit after exponent",
                        std::min(i, size) + 1);
    }
    while (is_digit(text_, i)) ++i;
  }
  at_ = end_ = consumed_ = i;
  furthest_ = i < size ? i : i - 1;
  if (i != digits_end) return token_ = Token::Float;
  return token_ = integer_token(text_.substr(digits, digits_end - digits), negative);
}

// Like the library: an integer that fits neither 64-bit type is a float.
JsonReader::Token JsonReader::integer_token(std::string_view digits, bool negative) {
  std::uint64_t value = 0;
  for (const char c : digits) {
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return Token::Float;
    value = value * 10 + digit;
  }
  magnitude_ = value;
  if (!negative) return Token::Unsigned;
  return value <= std::uint64_t{1} << 63 ? Token::Negative : Token::Float;
}

JsonReader::Token JsonReader::lex_string() {
  quoted_from_ = start_;
  const std::size_t size = text_.size();
  bool unescaping = false;
  std::size_t run = at_;  // the first byte not yet copied while unescaping
  while (true) {
    at_ = json_detail::plain_run_end(text_, at_);
    if (at_ == size) return fail_token("invalid string: missing closing quote", size + 1);
    const auto c = static_cast<unsigned char>(text_[at_++]);
    if (c == '"') {
      escaped_ = unescaping;
      if (unescaping) {
        unescaped_.append(text_, run, at_ - 1 - run);
        string_ = unescaped_;
      } else {
        string_ = text_.substr(start_ + 1, at_ - start_ - 2);
      }
      end_ = consumed_ = at_;
      furthest_ = at_ - 1;
      return token_ = Token::String;
    }
    if (c >= 0x80) {
      if (!utf8_continuation(c)) return token_;
      continue;
    }
    if (c < 0x20) return fail_token(control_character_message(c), at_);
    if (!unescaping) unescaped_.clear();
    unescaping = true;
    unescaped_.append(text_, run, at_ - 1 - run);
    if (at_ == size) return fail_token(kBadEscape, size + 1);
    // Pairs of an escape letter and the byte it stands for.
    static constexpr std::string_view kEscapes = "\"\"\\\\//b\bf\fn\nr\rt\t";
    const char letter = text_[at_++];
    const std::size_t found = kEscapes.find(letter);
    if (found % 2 == 0) {
      unescaped_ += kEscapes[found + 1];
    } else if (letter != 'u') {
      return fail_token(kBadEscape, at_);
    } else if (!unicode_escape()) {
      return token_;
    }
    run = at_;
  }
}

// After "\u": four hex digits, and a second escape where they make a high surrogate.
bool JsonReader::unicode_escape() {
  const std::size_t size = text_.size();
  int code_point = hex4();
  if (code_point < 0) return false;
  if (code_point >= 0xDC00 && code_point <= 0xDFFF) return fail_token(kLoneLow, at_), false;
  if (code_point >= 0xD800 && code_point <= 0xDBFF) {
    const bool backslash = at_ < size && text_[at_] == '\\';
    if (!backslash || at_ + 1 >= size || text_[at_ + 1] != 'u') {
      return fail_token(kLoneHigh, std::min(at_ + (backslash ? 1 : 0), size) + 1), false;
    }
    at_ += 2;
    const int low = hex4();
    if (low < 0) return false;
    if (low < 0xDC00 || low > 0xDFFF) return fail_token(kLoneHigh, at_), false;
    code_point = 0x10000 + ((code_point - 0xD800) << 10) + (low - 0xDC00);
  }
  text::append_utf8(unescaped_, static_cast<char32_t>(code_point));
  return true;
}

int JsonReader::hex4() {
  int code_point = 0;
  for (int i = 0; i < 4; ++i) {
    if (at_ == text_.size()) return fail_token(kHexDigits, at_ + 1), -1;
    const char c = text_[at_++];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit < 0) return fail_token(kHexDigits, at_), -1;
    code_point = code_point * 16 + digit;
  }
  return code_point;
}

// The bytes after a lead byte: well-formed UTF-8 only, checked byte by byte.
bool JsonReader::utf8_continuation(unsigned char lead) {
  int count = 0;
  unsigned low = 0x80;  // the range of the next byte
  unsigned high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    count = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    count = 2;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    count = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    fail_token(kBadUtf8, at_);
    return false;
  }
  for (int i = 0; i < count; ++i, low = 0x80, high = 0xBF) {
    if (at_ == text_.size()) {
      fail_token(kBadUtf8, at_ + 1);
      return false;
    }
    const auto c = static_cast<unsigned char>(text_[at_++]);
    if (c < low || c > high) {
      fail_token(kBadUtf8, at_);
      return false;
    }
  }
  return true;
}

bool JsonReader::fault(std::string description) {
  error_ = std::move(description);
  return false;
}

std::string JsonReader::token_string() const {
  // Only the start is ever shown; see printable_excerpt.
  const std::size_t end = std::min({consumed_, text_.size(), quoted_from_ + 400});
  std::string out;
  for (std::size_t i = quoted_from_; i < end; ++i) {
    const auto c = static_cast<unsigned char>(text_[i]);
    if (c > 0x1F) {
      out += static_cast<char>(c);
      continue;
    }
    std::array<char, 9> escaped{};
    std::snprintf(escaped.data(), escaped.size(), "<U+%.4X>", c);
    out += escaped.data();
  }
  return out;
}

bool JsonReader::unexpected(const char* context, const char* expected) {
  // The library counts the end of the text as a character read, and a line
  // feed just read as the start of a new line.
  const std::size_t last = std::min(consumed_ - 1, text_.size());
  TextPosition at = locate(text_, last);
  if (last < text_.size() && text_[last] == '\n') at = {at.line + 1, 0};
  // Putting back a number's look-ahead line feed does not restore the column.
  const bool number =
      token_ == Token::Unsigned || token_ == Token::Negative || token_ == Token::Float;
  if (number && consumed_ < text_.size() && text_[consumed_] == '\n') at.column = 0;
  std::string message =
      "parse error" + describe(at) + ": syntax error while parsing " + context + " - ";
  if (token_ == Token::Malformed) {
    message += message_;
    message += "; last read: '" + token_string() + "'";
  } else {
    message += "unexpected ";
    message += token_name(token_);
  }
  if (expected != nullptr) {
    message += "; expected ";
    message += expected;
  }
  return fault(printable_excerpt(message));
}

bool JsonReader::checked_value() {
  switch (token_) {
    case Token::Malformed:
      return unexpected("value", nullptr);
    case Token::Float: {
      const std::string written(literal());
      if (std::isfinite(std::strtod(written.c_str(), nullptr))) return true;
      return fault(printable_excerpt("number overflow parsing '" + written + "'"));
    }
    default:
      return unexpected("value", "'[', '{', or a literal");
  }
}

bool JsonReader::skip_value() {
  if (token_ != Token::BeginArray && token_ != Token::BeginObject) return true;
  std::string open(1, token_ == Token::BeginArray ? '[' : '{');  // one byte a level, no stack
  bool first = true;
  while (!open.empty()) {
    Step step = Step::Fault;
    if (open.back() == '[') {
      step = next_element(first);
    } else {
      step = next_key(first);
      if (step == Step::Item && !to_value()) step = Step::Fault;
    }
    if (step == Step::Fault) return false;
    first = false;
    if (step == Step::End) {
      open.pop_back();
    } else if (token_ == Token::BeginArray || token_ == Token::BeginObject) {
      open.push_back(token_ == Token::BeginArray ? '[' : '{');
      first = true;
    }
  }
  return true;
}

bool JsonReader::at_end() {
  return next() == Token::EndOfInput || unexpected("value", "end of input");
}

bool JsonReader::broken_byte_order_mark() {
  if (text_.empty() || static_cast<unsigned char>(text_[0]) != 0xEF) return false;
  const bool second = text_.size() > 1 && static_cast<unsigned char>(text_[1]) == 0xBB;
  fail_token("invalid BOM; must be 0xEF 0xBB 0xBF if given", second ? 3 : 2);
  unexpected("value", nullptr);
  return true;
}

}  // namespace sorvane
