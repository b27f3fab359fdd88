// A strict pull reader of JSON text (RFC 8259, UTF-8), for decoding replies
// without building a tree. It knows where it is, so a description of a fault
// names the line and column at once. Malformed text is described in the
// words nlohmann/json used for it, because people and scripts have seen those
// descriptions in error lines and the reader replaced that library here.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace sorvane {

struct TextPosition {
  std::size_t line = 1;
  std::size_t column = 1;
};

// " at line L, column C".
std::string describe(TextPosition position);

// The line and column of the byte at `offset`, for descriptions only: lines
// are counted when a fault needs them, not while reading.
TextPosition locate(std::string_view text, std::size_t offset);

class JsonReader {
 public:
  enum class Token : std::uint8_t {
    BeginArray,
    EndArray,
    BeginObject,
    EndObject,
    NameSeparator,
    ValueSeparator,
    String,
    Unsigned,  // an integer that fits 64 bits unsigned
    Negative,  // a negative integer (or -0) that fits 64 bits signed
    Float,     // a fraction, an exponent, or an integer too large for the above
    True,
    False,
    Null,
    EndOfInput,
    Malformed,
  };
  enum class Step : std::uint8_t { Item, End, Fault };

  // Reads from `from` on, which is the start of a token read before.
  explicit JsonReader(std::string_view text, std::size_t from = 0) : text_(text), at_(from) {}

  // Reads the next token; a Malformed one has a description in error().
  Token next();
  Token token() const { return token_; }
  // The text of a String token, escapes resolved; valid UTF-8. It lies in
  // the text read unless escaped(), and then lasts until the next token.
  std::string_view string() const { return string_; }
  bool escaped() const { return escaped_; }
  // The absolute value of an Unsigned or Negative token.
  std::uint64_t magnitude() const { return magnitude_; }
  // The token as written.
  std::string_view literal() const { return text_.substr(start_, end_ - start_); }
  // Where the current token begins.
  std::size_t offset() const { return start_; }
  // The last byte read for the current token (a number reads one beyond).
  std::size_t last_read() const { return furthest_; }

  // Structure, from the current token. Each returns false (Fault) with a
  // description in error() when the text is malformed.
  bool starts_value() {  // the current token can start a value here
    return (token_ >= Token::String && token_ <= Token::Null && token_ != Token::Float) ||
           token_ == Token::BeginArray || token_ == Token::BeginObject || checked_value();
  }
  // In an array whose '[' (first) or previous element was just read: moves
  // to the first token of the next element.
  Step next_element(bool first);
  // In an object whose '{' (first) or previous member was just read: moves
  // to the next key (a String token).
  Step next_key(bool first);
  // After a key: moves to the first token of its value.
  bool to_value();
  // Reads past the value whose first token is current, without recursion.
  bool skip_value();
  // Goes on after a '}' at `close` that the caller read by itself, its last
  // string or number starting at `quoted_from`.
  void resume_after_object(std::size_t close, std::size_t quoted_from) {
    quoted_from_ = quoted_from;
    start_ = furthest_ = close;
    at_ = end_ = consumed_ = close + 1;
    token_ = Token::EndObject;
  }
  // After the value: only whitespace may follow.
  bool at_end();

  // A byte order mark that is not whole.
  bool broken_byte_order_mark();

  bool fault(std::string description);
  const std::string& error() const { return error_; }

 private:
  bool checked_value();
  void skip_whitespace();
  bool take(char punctuation, Token token);
  Token fail_token(std::string message, std::size_t consumed);
  Token lex_string();
  Token lex_other(char first);
  Token lex_number();
  Token integer_token(std::string_view digits, bool negative);
  Token lex_literal(std::string_view word, Token token);
  bool utf8_continuation(unsigned char lead);
  bool unicode_escape();
  int hex4();
  bool unexpected(const char* context, const char* expected);
  std::string token_string() const;

  std::string_view text_;
  std::size_t at_ = 0;           // the next byte to read
  std::size_t start_ = 0;        // where the current token begins
  std::size_t end_ = 0;          // one past the current token
  std::size_t furthest_ = 0;     // the last byte read, a number's look-ahead included
  std::size_t consumed_ = 0;     // bytes taken, the end of input counting as one
  std::size_t quoted_from_ = 0;  // where the text quoted by a fault begins
  Token token_ = Token::EndOfInput;
  std::string message_;  // what is wrong with a Malformed token
  std::string_view string_;
  bool escaped_ = false;
  std::string unescaped_;
  std::uint64_t magnitude_ = 0;
  std::string error_;
};

// The hot paths, inline: every token of a reply passes through them.

namespace json_detail {

// The first byte from `at` on that a string cannot take as it is: a quote, a
// backslash, a control character or a non-ASCII byte. Eight bytes at a time:
// each test below sets the high bit of every such byte, and of none before
// the first one.
inline std::size_t plain_run_end(std::string_view text, std::size_t at) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHigh = 0x8080808080808080;
    for (; at + 8 <= text.size(); at += 8) {
      std::uint64_t v = 0;
      std::memcpy(&v, text.data() + at, 8);
      const std::uint64_t special = ((v - kOnes * 0x20) | ((v ^ (kOnes * '"')) - kOnes) |
                                     ((v ^ (kOnes * '\\')) - kOnes) | v) &
                                    kHigh;
      if (special != 0) return at + static_cast<std::size_t>(std::countr_zero(special)) / 8;
    }
  }
  for (; at < text.size(); ++at) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x20 || c == '"' || c == '\\' || c >= 0x80) break;
  }
  return at;
}

}  // namespace json_detail

inline void JsonReader::skip_whitespace() {
  // Replies mostly come without any: one test for that.
  while (at_ < text_.size() && static_cast<unsigned char>(text_[at_]) <= ' ' &&
         (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t')) {
    ++at_;
  }
}

// The expected punctuation, without lexing a token; false leaves it unread.
inline bool JsonReader::take(char punctuation, Token token) {
  skip_whitespace();
  if (at_ == text_.size() || text_[at_] != punctuation) return false;
  start_ = furthest_ = at_;
  end_ = consumed_ = ++at_;
  token_ = token;
  return true;
}

inline JsonReader::Token JsonReader::next() {
  skip_whitespace();
  start_ = at_;
  if (at_ == text_.size()) {
    end_ = at_;
    consumed_ = at_ + 1;
    return token_ = Token::EndOfInput;
  }
  const char c = text_[at_++];
  end_ = consumed_ = at_;
  furthest_ = at_ - 1;
  switch (c) {
    case '[':
      return token_ = Token::BeginArray;
    case ']':
      return token_ = Token::EndArray;
    case '{':
      return token_ = Token::BeginObject;
    case '}':
      return token_ = Token::EndObject;
    case ':':
      return token_ = Token::NameSeparator;
    case ',':
      return token_ = Token::ValueSeparator;
    case '"': {
      quoted_from_ = start_;
      // Most strings hold no escape and no non-ASCII byte: a view of the text.
      const std::size_t close = json_detail::plain_run_end(text_, at_);
      if (close == text_.size() || text_[close] != '"') return lex_string();
      string_ = text_.substr(at_, close - at_);
      escaped_ = false;
      at_ = end_ = consumed_ = close + 1;
      furthest_ = close;
      return token_ = Token::String;
    }
    default:
      return lex_other(c);
  }
}

inline JsonReader::Step JsonReader::next_element(bool first) {
  if (take(']', Token::EndArray)) return Step::End;
  if (!first && !take(',', Token::ValueSeparator)) {
    next();
    return unexpected("array", "']'"), Step::Fault;
  }
  next();
  return starts_value() ? Step::Item : Step::Fault;
}

inline JsonReader::Step JsonReader::next_key(bool first) {
  if (take('}', Token::EndObject)) return Step::End;
  if (!first && !take(',', Token::ValueSeparator)) {
    next();
    return unexpected("object", "'}'"), Step::Fault;
  }
  if (next() != Token::String) return unexpected("object key", "string literal"), Step::Fault;
  return Step::Item;
}

inline bool JsonReader::to_value() {
  if (!take(':', Token::NameSeparator)) {
    next();
    return unexpected("object separator", "':'");
  }
  next();
  return starts_value();
}

}  // namespace sorvane
