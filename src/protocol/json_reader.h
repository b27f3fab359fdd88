// A strict pull reader of JSON text (RFC 8259, UTF-8), for decoding replies
// without building a tree. It knows where it is, so a description of a fault
// names the line and column at once. Malformed text is described in the
// words nlohmann/json used for it, because people and scripts have seen those
// descriptions in error lines and the reader replaced that library here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sorvane {

struct TextPosition {
  std::size_t line = 1;
  std::size_t column = 1;

  friend auto operator<=>(const TextPosition&, const TextPosition&) = default;
};

// " at line L, column C".
std::string describe(TextPosition position);

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

  explicit JsonReader(std::string_view text);

  // Reads the next token; a Malformed one has a description in error().
  Token next();
  Token token() const { return token_; }
  // The text of a String token, escapes resolved; valid UTF-8.
  std::string_view string() const { return string_; }
  // The absolute value of an Unsigned or Negative token.
  std::uint64_t magnitude() const { return magnitude_; }
  // The token as written.
  std::string_view literal() const { return text_.substr(start_, end_ - start_); }
  // The last byte read for the current token (a number reads one beyond).
  TextPosition position() const;

  // Structure, from the current token. Each returns false (Fault) with a
  // description in error() when the text is malformed.
  bool starts_value();  // the current token can start a value here
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
  // After the value: only whitespace may follow.
  bool at_end();

  // A byte order mark that is not whole.
  bool broken_byte_order_mark();

  bool fault(std::string description);
  const std::string& error() const { return error_; }

 private:
  Token fail_token(std::string message, std::size_t consumed);
  Token lex_string();
  Token lex_number();
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
  std::size_t line_ = 1;
  std::size_t line_start_ = 0;
  Token token_ = Token::EndOfInput;
  std::string message_;  // what is wrong with a Malformed token
  std::string_view string_;
  std::string unescaped_;
  std::uint64_t magnitude_ = 0;
  std::string error_;
};

}  // namespace sorvane
