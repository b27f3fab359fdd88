#include "output/pretty_json.h"

#include <array>
#include <charconv>

#include "protocol/json_quote.h"

namespace sorvane {

JsonKey::JsonKey(std::string_view name, std::size_t depth) : depth_(depth) {
  after_comma_ = ",\n";
  after_comma_.append(depth * 2, ' ');
  append_json_string(after_comma_, name);
  after_comma_ += ": ";
}

void PrettyJsonWriter::key(std::string_view name) {
  text_ += item_break();
  append_json_string(text_, name);
  text_ += ": ";
  after_key_ = true;
}

void PrettyJsonWriter::key(const JsonKey& key) {
  if (key.depth_ != depth_) {
    // Not where it was rendered for: the line break comes out of the key's text.
    text_ += item_break();
    text_.append(key.after_comma_, 2 + key.depth_ * 2);
  } else {
    // The first member takes no comma.
    text_.append(key.after_comma_, innermost_empty_ ? 1 : 0);
    innermost_empty_ = false;
  }
  after_key_ = true;
}

void PrettyJsonWriter::string(std::string_view utf8) {
  begin_value();
  append_json_string(text_, utf8);
}

void PrettyJsonWriter::number(std::uint64_t value) {
  begin_value();
  std::array<char, 20> digits{};  // enough for 2^64 - 1
  auto [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  (void)error;  // cannot overflow
  text_.append(digits.data(), end);
}

void PrettyJsonWriter::null() {
  begin_value();
  text_ += "null";
}

void PrettyJsonWriter::open_container(char bracket) {
  begin_value();
  text_ += bracket;
  ++depth_;
  innermost_empty_ = true;
}

void PrettyJsonWriter::close_container(char bracket) {
  const bool had_items = !innermost_empty_;
  --depth_;
  innermost_empty_ = false;
  // An empty container stays on its opening line: "[]" / "{}".
  if (had_items) text_ += line_break(false, depth_);
  text_ += bracket;
}

// A value right after its key continues that line; any other value is an
// array element (or the top-level value) and starts a line of its own.
void PrettyJsonWriter::begin_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  text_ += item_break();
}

std::string_view PrettyJsonWriter::item_break() {
  if (depth_ == 0) return {};
  const bool comma = !innermost_empty_;
  innermost_empty_ = false;
  return line_break(comma, depth_);
}

// A line feed (after a comma if `comma`) and the indent of `depth` levels.
std::string_view PrettyJsonWriter::line_break(bool comma, std::size_t depth) {
  static constexpr std::string_view READY = ",\n                                ";
  const std::size_t size = (comma ? 2 : 1) + depth * 2;
  const std::string_view ready = comma ? READY : READY.substr(1);
  if (size <= ready.size()) return ready.substr(0, size);
  deep_break_.assign(ready.substr(0, comma ? 2 : 1));
  deep_break_.append(depth * 2, ' ');
  return deep_break_;
}

}  // namespace sorvane
