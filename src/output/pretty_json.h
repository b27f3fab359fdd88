// Builds the pretty-printed JSON that the tool shows to people and scripts:
// two spaces per level, one member or element per line, ": " after keys,
// "[]" / "{}" for empty containers. Strings use json_quote, so printed JSON
// escapes exactly like the request the tool sends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sorvane {

class PrettyJsonWriter {
 public:
  void begin_object() { open_container('{'); }
  void end_object() { close_container('}'); }
  void begin_array() { open_container('['); }
  void end_array() { close_container(']'); }

  // Inside an object: the key of the next value.
  void key(std::string_view name);

  void string(std::string_view utf8);
  void number(std::uint64_t value);
  void null();

  // The text written so far; no line feed is added.
  const std::string& text() const { return text_; }
  std::string take() { return std::move(text_); }

 private:
  void open_container(char bracket);
  void close_container(char bracket);
  void begin_value();
  void begin_item();
  void indent(std::size_t level);

  std::string text_;
  // One entry per open container: whether it already holds an item.
  std::vector<bool> has_items_;
  bool after_key_ = false;
};

}  // namespace sorvane
