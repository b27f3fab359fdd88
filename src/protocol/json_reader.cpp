#include "protocol/json_reader.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "text/utf8.h"

namespace sorvane {
namespace {

// Every text that a description quotes is cut to this many bytes.
constexpr std::size_t EXCERPT = 40;

bool is_digit(std::string_view text, std::size_t at) {
  return at < text.size() && text[at] >= '0' && text[at] <= '9';
}

// Four hex digits from `at` on, into `unit`.
bool hex4(std::string_view text, std::size_t& at, std::uint32_t& unit) {
  const std::string_view digits = text.substr(at, 4);
  at += 4;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), unit, 16);
  return error == std::errc() && digits.size() == 4 && end == digits.data() + 4;
}

}  // namespace

std::string where(std::string_view text, std::size_t offset) {
  const std::string_view before = text.substr(0, offset);
  const std::size_t line_start = before.rfind('\n') + 1;  // 0 when there is none
  return " at line " + std::to_string(std::count(before.begin(), before.end(), '\n') + 1) +
         ", column " + std::to_string(offset - line_start + 1);
}

std::string quoted_excerpt(std::string_view text) {
  if (text.size() <= EXCERPT) return json_quote(text);
  std::size_t cut = EXCERPT;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return json_quote(text.substr(0, cut)) + "...";
}

bool JsonReader::fail(std::string_view description, std::size_t offset) {
  if (error_.empty()) error_ = std::string(description) + where(offset);
  return false;
}

bool JsonReader::unexpected(std::string_view expected) {
  const auto c = static_cast<unsigned char>(peek());
  std::array<char, 16> found{};
  std::snprintf(found.data(), found.size(), c > ' ' && c < 0x7F ? "'%c'" : "byte 0x%02X", c);
  return fail("syntax error: unexpected " + std::string(c == 0 ? "end of input" : found.data()) +
                  ", expected " + std::string(expected),
              at_);
}

bool JsonReader::at_end() { return peek() == '\0' || unexpected("end of input"); }

// The slow path of string(): escapes, non-ASCII bytes, and faults.
bool JsonReader::string_with_escapes(std::string_view& out) {
  std::size_t copied = ++at_;  // the first byte not yet in unescaped_
  unescaped_.clear();
  while (true) {
    at_ = json_detail::plain_run_end(text_, at_);
    if (at_ == text_.size()) return fail("syntax error: missing closing quote", at_);
    const auto c = static_cast<unsigned char>(text_[at_]);
    if (c == '"') break;
    if (c < 0x20) return fail("syntax error: unescaped control character in a string", at_);
    if (c >= 0x80) {
      const text::DecodedChar decoded = text::decode_utf8_char(text_.substr(at_));
      if (!decoded.valid) return fail("syntax error: ill-formed UTF-8 in a string", at_);
      at_ += decoded.length;
      continue;
    }
    unescaped_.append(text_, copied, at_ - copied);
    if (!escape()) return false;
    copied = at_;
  }
  out = unescaped_.append(text_, copied, at_++ - copied);
  skip_whitespace();
  return true;
}

// From a backslash on, into unescaped_; a high surrogate takes a second
// escape with it.
bool JsonReader::escape() {
  static constexpr std::string_view ESCAPES = "\"\"\\\\//b\bf\fn\nr\rt\t";  // letter, byte
  const std::size_t backslash = at_++;
  const char letter = at_ < text_.size() ? text_[at_++] : '\0';
  const std::size_t found = ESCAPES.find(letter);
  if (letter != '\0' && found % 2 == 0) {
    unescaped_ += ESCAPES[found + 1];
    return true;
  }
  if (letter != 'u') return fail("syntax error: invalid escape in a string", backslash);
  std::uint32_t unit = 0;
  std::uint32_t low = 0;
  if (!hex4(text_, at_, unit)) return fail("syntax error: \\u without four hex digits", backslash);
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (text_.substr(at_, 2) != "\\u" || !hex4(text_, at_ += 2, low) || low < 0xDC00 ||
        low > 0xDFFF) {
      return fail("syntax error: unpaired surrogate in a string", backslash);
    }
    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
    return fail("syntax error: unpaired surrogate in a string", backslash);
  }
  text::append_utf8(unescaped_, static_cast<char32_t>(unit));
  return true;
}

bool JsonReader::number(JsonNumber& out) {
  const std::size_t start = at_;
  const bool negative = peek() == '-';
  std::size_t i = negative ? start + 1 : start;
  auto digits = [&] {
    if (!is_digit(text_, i)) return fail("syntax error: expected a digit", i);
    while (is_digit(text_, i)) ++i;
    return true;
  };
  if (!negative && !is_digit(text_, i)) return unexpected("a value");
  const std::size_t integer = i;
  if (is_digit(text_, i) && text_[i] == '0') {
    ++i;  // a leading zero stands alone
  } else if (!digits()) {
    return false;
  }
  const std::size_t integer_end = i;
  if (i < text_.size() && text_[i] == '.' && (++i, !digits())) return false;
  if (i < text_.size() && (text_[i] == 'e' || text_[i] == 'E')) {
    if (++i < text_.size() && (text_[i] == '+' || text_[i] == '-')) ++i;
    if (!digits()) return false;
  }
  at_ = i;
  skip_whitespace();
  out.literal = text_.substr(start, i - start);
  out.kind = negative ? JsonNumber::Kind::Negative : JsonNumber::Kind::Unsigned;
  const auto [end, error] =
      std::from_chars(text_.data() + integer, text_.data() + integer_end, out.magnitude);
  if (error == std::errc() && i == integer_end && (!negative || out.magnitude <= 1ULL << 63)) {
    return true;
  }
  out.kind = JsonNumber::Kind::Other;
  // Such a number must still be one that a double can hold.
  return std::isfinite(std::strtod(std::string(out.literal).c_str(), nullptr)) ||
         fail("number out of range: " + std::string(out.literal.substr(0, EXCERPT)), start);
}

bool JsonReader::literal(std::string_view word) {
  if (text_.substr(at_, word.size()) != word) return fail("syntax error: invalid literal", at_);
  at_ += word.size();
  skip_whitespace();
  return true;
}

bool JsonReader::scalar() {
  std::string_view text;
  JsonNumber number;
  const char c = peek();
  return c == '"'   ? string(text)
         : c == 't' ? literal("true")
         : c == 'f' ? literal("false")
         : c == 'n' ? literal("null")
                    : this->number(number);
}

bool JsonReader::skip_value() {
  std::string open;  // the closing bracket of each level still open
  std::string_view key;
  do {
    const char c = peek();
    if (take('[') || take('{')) {
      const char close = c == '[' ? ']' : '}';
      if (!take(close)) {
        open += close;
        if (close == '}' && !member_key(key)) return false;
        continue;
      }
    } else if (!scalar()) {
      return false;
    }
    // After a value: close what ends here, then on to the next item.
    while (!open.empty() && !take(',')) {
      if (!take(open.back())) return unexpected(open.back() == ']' ? "',' or ']'" : "',' or '}'");
      open.pop_back();
    }
    if (!open.empty() && open.back() == '}' && !member_key(key)) return false;
  } while (!open.empty());
  return true;
}

std::string JsonReader::describe_value() const {
  JsonReader value(text_, at_);
  std::string_view text;
  JsonNumber number;
  if (peek() == '[' || peek() == '{') return peek() == '[' ? "an array" : "an object";
  if (peek() == '"') return value.string(text) ? "string " + quoted_excerpt(text) : "a string";
  for (const std::string_view word : {"true", "false", "null"}) {
    if (text_.substr(at_).starts_with(word)) return std::string(word);
  }
  return value.number(number) ? std::string(number.literal.substr(0, EXCERPT)) : "a value";
}

}  // namespace sorvane
