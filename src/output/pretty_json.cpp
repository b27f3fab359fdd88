#include "output/pretty_json.h"

#include "protocol/request.h"

namespace sorvane {

void PrettyJsonWriter::key(std::string_view name) {
  begin_item();
  text_ += json_quote(name);
  text_ += ": ";
  after_key_ = true;
}

void PrettyJsonWriter::string(std::string_view utf8) {
  begin_value();
  text_ += json_quote(utf8);
}

void PrettyJsonWriter::number(std::uint64_t value) {
  begin_value();
  text_ += std::to_string(value);
}

void PrettyJsonWriter::null() {
  begin_value();
  text_ += "null";
}

void PrettyJsonWriter::open_container(char bracket) {
  begin_value();
  text_ += bracket;
  has_items_.push_back(false);
}

void PrettyJsonWriter::close_container(char bracket) {
  const bool had_items = has_items_.back();
  has_items_.pop_back();
  // An empty container stays on its opening line: "[]" / "{}".
  if (had_items) {
    text_ += '\n';
    indent(has_items_.size());
  }
  text_ += bracket;
}

// A value right after its key continues that line; any other value is an
// array element (or the top-level value) and starts a line of its own.
void PrettyJsonWriter::begin_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  begin_item();
}

void PrettyJsonWriter::begin_item() {
  if (has_items_.empty()) return;
  text_ += has_items_.back() ? ",\n" : "\n";
  has_items_.back() = true;
  indent(has_items_.size());
}

void PrettyJsonWriter::indent(std::size_t level) { text_.append(level * 2, ' '); }

}  // namespace sorvane
