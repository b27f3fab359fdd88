// Builds the pretty-printed JSON that the tool shows to people and scripts:
// two spaces per level, one member or element per line, ": " after keys,
// "[]" / "{}" for empty containers. Strings are escaped by the same code as
// the request the tool sends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace sorvane {

// A key rendered once, for keys written over and over (the members of every
// host in a list): quotes, ": ", and the comma, line feed and indent it
// takes as a member of an object at `depth` (the top-level object is at 1).
class JsonKey {
 public:
  JsonKey(std::string_view name, std::size_t depth);

 private:
  friend class PrettyJsonWriter;
  std::string after_comma_;  // ",\n", the indent, the key
  std::size_t depth_;
};

class PrettyJsonWriter {
 public:
  void begin_object() { open_container('{'); }
  void end_object() { close_container('}'); }
  void begin_array() { open_container('['); }
  void end_array() { close_container(']'); }

  // Inside an object: the key of the next value.
  void key(std::string_view name);
  void key(const JsonKey& key);

  void string(std::string_view utf8);
  void number(std::uint64_t value);
  void null();

  // Room for `bytes` more of text, for callers that can tell.
  void reserve(std::size_t bytes) { text_.reserve(text_.size() + bytes); }

  // The text written so far; no line feed is added.
  std::string take() { return std::move(text_); }

 private:
  void open_container(char bracket);
  void close_container(char bracket);
  void begin_value();
  std::string_view item_break();
  std::string_view line_break(bool comma, std::size_t depth);

  std::string text_;
  std::size_t depth_ = 0;  // open containers
  // Only the innermost container can still be empty: every outer one holds
  // at least the container inside it.
  bool innermost_empty_ = false;
  bool after_key_ = false;
  std::string deep_break_;  // line breaks too deep for the ready-made one
};

}  // namespace sorvane
