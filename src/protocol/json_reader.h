// A strict reader of JSON text (RFC 8259, UTF-8) that decodes each value
// where it stands, without building a tree. A fault is described with its
// line and column, which are counted only when a description is written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/json_quote.h"

namespace sorvane {

// " at line L, column C", for the byte at `offset` of `text`.
std::string where(std::string_view text, std::size_t offset);

// Text quoted in a description: JSON-quoted, cut to a short excerpt.
std::string quoted_excerpt(std::string_view text);

struct JsonNumber {
  enum class Kind : std::uint8_t { Unsigned, Negative, Other };  // Other: not a 64-bit integer
  Kind kind = Kind::Other;
  std::uint64_t magnitude = 0;  // of an Unsigned or Negative integer
  std::string_view literal;     // as written
};

class JsonReader {
 public:
  explicit JsonReader(std::string_view text, std::size_t at = 0) : text_(text), at_(at) {
    skip_whitespace();
  }

  // The first byte of the next value or punctuation: whitespace is skipped
  // after each one. A NUL byte, like the end of the text, reads as '\0'.
  char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
  std::size_t offset() const { return at_; }  // where peek() looks
  bool take(char punctuation);

  // Each reads the next value, which must be of its kind; malformed text
  // makes it return false with a description in error(). A string's text is
  // valid UTF-8, and lasts as long as the text read or the next string.
  bool string(std::string_view& out);
  bool number(JsonNumber& out);
  // Reads any value, checked, with the nesting kept off the stack.
  bool skip_value();
  // Calls member(key, key_offset) for each member of the object that comes
  // next, with the reader at the member's value, which member must read.
  template <class Member>
  bool object(Member&& member);
  // Calls element() for each element of the array that comes next.
  template <class Element>
  bool array(Element&& element);
  bool at_end();  // only whitespace may be left

  // The next value as descriptions name it (`string "web"`, `an array`).
  std::string describe_value() const;
  std::string where(std::size_t offset) const { return sorvane::where(text_, offset); }
  // Records `description` with the place of `offset`; returns false.
  bool fail(std::string_view description, std::size_t offset);
  const std::string& error() const { return error_; }

 private:
  void skip_whitespace();
  bool unexpected(std::string_view expected);
  bool string_with_escapes(std::string_view& out);
  bool escape();
  bool literal(std::string_view word);
  bool scalar();
  bool member_key(std::string_view& key);

  std::string_view text_;
  std::size_t at_ = 0;
  std::string unescaped_;
  std::string error_;
};

namespace json_detail {

// The first byte from `at` on that a string cannot take as it is: a quote, a
// backslash, a control or a non-ASCII byte.
inline std::size_t plain_run_end(std::string_view text, std::size_t at) {
  for (; at < text.size(); ++at) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (NEEDS_ESCAPE[c] || c >= 0x80) break;
  }
  return at;
}

}  // namespace json_detail

// The hot paths, inline: every member of a reply passes through them.

inline void JsonReader::skip_whitespace() {
  // Replies mostly come without any: one test for that.
  while (at_ < text_.size() && static_cast<unsigned char>(text_[at_]) <= ' ' &&
         (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t')) {
    ++at_;
  }
}

inline bool JsonReader::take(char punctuation) {
  if (peek() != punctuation) return false;
  ++at_;
  skip_whitespace();
  return true;
}

// A key and its colon.
inline bool JsonReader::member_key(std::string_view& key) {
  return string(key) && (take(':') || unexpected("':'"));
}

inline bool JsonReader::string(std::string_view& out) {
  if (peek() != '"') return unexpected("a string");
  // Most strings hold no escape and no non-ASCII byte: their text as it stands.
  const std::size_t close = json_detail::plain_run_end(text_, at_ + 1);
  if (close == text_.size() || text_[close] != '"') return string_with_escapes(out);
  out = text_.substr(at_ + 1, close - at_ - 1);
  at_ = close + 1;
  skip_whitespace();
  return true;
}

template <class Member>
bool JsonReader::object(Member&& member) {
  if (!take('{')) return unexpected("an object");
  if (peek() != '}') {
    do {
      std::string_view key;
      const std::size_t key_offset = at_;
      if (!member_key(key) || !member(key, key_offset)) return false;
    } while (take(','));
  }
  return take('}') || unexpected("',' or '}'");
}

template <class Element>
bool JsonReader::array(Element&& element) {
  if (!take('[')) return unexpected("an array");
  if (peek() != ']') {
    do {
      if (!element()) return false;
    } while (take(','));
  }
  return take(']') || unexpected("',' or ']'");
}

}  // namespace sorvane
