#include "protocol/reply.h"

#include <algorithm>
#include <array>
#include <exception>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

#include "protocol/request.h"
#include "text/utf8.h"

namespace sorvane {
namespace {

using Json = nlohmann::json;

// ---------------------------------------------------------------------------
// Positions. nlohmann's SAX events carry no position, and reading through a
// counting iterator slows every byte down. So values remember the number of
// the SAX event that produced them, and only a description that needs a
// place reads the payload again, counting, up to that event: there the
// parser has just read past the token that caused it.

class CountingIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CountingIterator(const char* at, const char** furthest) : at_(at), furthest_(furthest) {}

  reference operator*() const {
    *furthest_ = at_ + 1;
    return *at_;
  }
  CountingIterator& operator++() {
    ++at_;
    return *this;
  }
  CountingIterator operator++(int) {
    CountingIterator before = *this;
    ++at_;
    return before;
  }
  bool operator==(const CountingIterator& other) const { return at_ == other.at_; }
  bool operator!=(const CountingIterator& other) const { return at_ != other.at_; }

 private:
  const char* at_;
  const char** furthest_;
};

// Numbers SAX events from 1, every callback included, and stops at one.
class EventFinder {
 public:
  EventFinder(std::size_t target, const char** furthest) : target_(target), furthest_(furthest) {}

  bool null() { return next(); }
  bool boolean(bool) { return next(); }
  bool number_integer(Json::number_integer_t) { return next(); }
  bool number_unsigned(Json::number_unsigned_t) { return next(); }
  bool number_float(Json::number_float_t, const Json::string_t&) { return next(); }
  bool string(Json::string_t&) { return next(); }
  bool binary(Json::binary_t&) { return next(); }
  bool start_object(std::size_t) { return next(); }
  bool start_array(std::size_t) { return next(); }
  bool end_object() { return next(); }
  bool end_array() { return next(); }
  bool key(Json::string_t&) { return next(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

  std::optional<const char*> found() const { return found_; }

 private:
  bool next() {
    if (++count_ < target_) return true;
    found_ = *furthest_;
    return false;
  }

  std::size_t target_;
  const char** furthest_;
  std::size_t count_ = 0;
  std::optional<const char*> found_;
};

// How far the parser had read at SAX event number `event`.
std::size_t offset_of_event(std::string_view payload, std::size_t event) {
  const char* furthest = payload.data();
  EventFinder finder(event, &furthest);
  try {
    CountingIterator first(payload.data(), &furthest);
    CountingIterator last(payload.data() + payload.size(), &furthest);
    Json::sax_parse(first, last, &finder);
  } catch (const std::exception&) {
    // Only reached for a payload already parsed once; fall back to the end.
  }
  return static_cast<std::size_t>(finder.found().value_or(payload.data() + payload.size()) - payload.data());
}

// " at line L, column C" for the byte just before `offset`.
std::string where_offset(std::string_view payload, std::size_t offset) {
  std::size_t last = std::min(offset == 0 ? 0 : offset - 1, payload.size());
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < last; ++i) {
    if (payload[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return " at line " + std::to_string(line) + ", column " + std::to_string(last - line_start + 1);
}

// " at line L, column C" for SAX event number `event`.
std::string where(std::string_view payload, std::size_t event) {
  return where_offset(payload, offset_of_event(payload, event));
}

// ---------------------------------------------------------------------------
// The members of a reply, kept as generic values until the tag is known.
// Nesting deeper than any field can be is recorded by kind only, so hostile
// input cannot make the tree (or its destruction) deep.

struct Member;

struct Value {
  enum class Kind { Null, Boolean, Unsigned, Signed, Float, String, Array, Object };
  Kind kind = Kind::Null;
  std::size_t event = 0;      // the SAX event of the value's first token
  std::size_t end_event = 0;  // containers: the event of the closing bracket
  bool boolean = false;
  std::uint64_t unsigned_number = 0;
  std::int64_t signed_number = 0;  // negative numbers, and "-0"
  std::string text;                // a string, or the literal text of a float
  std::vector<Value> items;
  std::vector<Member> members;
};

struct Member {
  std::string key;
  std::size_t key_event = 0;
  Value value;
};

constexpr std::size_t kKeptDepth = 3;  // reply object, "hosts" array, host object

std::string quoted_excerpt(std::string_view text) {
  constexpr std::size_t kMax = 40;
  if (text.size() <= kMax) return json_quote(text);
  std::size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return json_quote(text.substr(0, cut)) + "...";
}

// The library quotes the offending token, which may be long or not UTF-8;
// the description goes to a terminal as one short line.
std::string printable_excerpt(std::string_view message) {
  constexpr std::size_t kMax = 300;
  if (message.size() <= kMax) return text::utf8_lossy(message);
  std::size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(message[cut]) & 0xC0) == 0x80) --cut;
  return text::utf8_lossy(message.substr(0, cut)) + "...";
}

std::string describe(const Value& value) {
  switch (value.kind) {
    case Value::Kind::Null: return "null";
    case Value::Kind::Boolean: return value.boolean ? "true" : "false";
    case Value::Kind::Unsigned: return std::to_string(value.unsigned_number);
    case Value::Kind::Signed: return std::to_string(value.signed_number);
    case Value::Kind::Float: return value.text;
    case Value::Kind::String: return "string " + quoted_excerpt(value.text);
    case Value::Kind::Array: return "an array";
    case Value::Kind::Object: return "an object";
  }
  return "a value";
}

// ---------------------------------------------------------------------------
// The six tags.

enum class Tag { Hosts, Progress, TransferDone, Exit, Activated, Error };

constexpr std::array<std::pair<std::string_view, Tag>, 6> kTags = {{
    {"hosts", Tag::Hosts},
    {"progress", Tag::Progress},
    {"transfer_done", Tag::TransferDone},
    {"exit", Tag::Exit},
    {"activated", Tag::Activated},
    {"error", Tag::Error},
}};

std::optional<Tag> parse_tag(std::string_view word) {
  for (const auto& [name, tag] : kTags) {
    if (name == word) return tag;
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// SAX handler: checks the tag as soon as it is met and sets every other
// member of the reply object aside, duplicates included.

class ReplyCollector {
 public:
  explicit ReplyCollector(std::string_view payload) : payload_(payload) {}

  bool null() {
    ++event_;
    return add_scalar(make_value(Value::Kind::Null));
  }
  bool boolean(bool flag) {
    ++event_;
    Value value = make_value(Value::Kind::Boolean);
    value.boolean = flag;
    return add_scalar(std::move(value));
  }
  bool number_integer(Json::number_integer_t number) {
    ++event_;
    Value value = make_value(Value::Kind::Signed);
    value.signed_number = number;
    return add_scalar(std::move(value));
  }
  bool number_unsigned(Json::number_unsigned_t number) {
    ++event_;
    Value value = make_value(Value::Kind::Unsigned);
    value.unsigned_number = number;
    return add_scalar(std::move(value));
  }
  bool number_float(Json::number_float_t, const Json::string_t& literal) {
    ++event_;
    Value value = make_value(Value::Kind::Float);
    value.text = literal;
    return add_scalar(std::move(value));
  }
  bool string(Json::string_t& text) {
    ++event_;
    Value value = make_value(Value::Kind::String);
    value.text = std::move(text);
    return add_scalar(std::move(value));
  }
  bool binary(Json::binary_t&) {
    ++event_;
    return failed("unexpected binary value" + here());
  }

  bool start_object(std::size_t) {
    ++event_;
    return open(Value::Kind::Object);
  }
  bool start_array(std::size_t) {
    ++event_;
    return open(Value::Kind::Array);
  }
  bool end_object() {
    ++event_;
    return close();
  }
  bool end_array() {
    ++event_;
    return close();
  }

  bool key(Json::string_t& name) {
    ++event_;
    if (skipped_depth_ > 0) return true;
    if (open_.size() == 1 && name == "type") {
      if (tag_) return failed("duplicate member \"type\"" + here());
      expecting_tag_ = true;
      return true;
    }
    open_.back()->members.push_back(Member{std::move(name), event_, Value{}});
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
    // Drop the "[json.exception.parse_error.101] " prefix; the rest names line and column.
    std::string_view text = error.what();
    if (auto end = text.find("] "); !text.empty() && text.front() == '[' && end != std::string_view::npos) {
      text.remove_prefix(end + 2);
    }
    return failed(printable_excerpt(text));
  }

  const std::optional<std::string>& error() const { return error_; }
  std::optional<Tag> tag() const { return tag_; }
  Value& root() { return root_; }

 private:
  Value make_value(Value::Kind kind) const {
    Value value;
    value.kind = kind;
    value.event = event_;
    return value;
  }
  std::string here() const { return where(payload_, event_); }

  bool failed(std::string message) {
    error_ = std::move(message);
    return false;
  }

  // Where a new value goes: the root, the tag, or inside the innermost kept container.
  Value* place(Value value) {
    if (open_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    Value& parent = *open_.back();
    if (parent.kind == Value::Kind::Array) {
      parent.items.push_back(std::move(value));
      return &parent.items.back();
    }
    parent.members.back().value = std::move(value);
    return &parent.members.back().value;
  }

  bool add_scalar(Value value) {
    if (skipped_depth_ > 0) return true;
    if (open_.empty()) return failed("expected a reply object, found " + describe(value) + here());
    if (expecting_tag_) return take_tag(value);
    place(std::move(value));
    return true;
  }

  bool take_tag(const Value& value) {
    expecting_tag_ = false;
    if (value.kind != Value::Kind::String) {
      return failed("invalid type for \"type\": expected a string, found " + describe(value) + here());
    }
    tag_ = parse_tag(value.text);
    if (!tag_) {
      return failed("unknown reply type " + quoted_excerpt(value.text) +
                    ", expected one of \"hosts\", \"progress\", \"transfer_done\", \"exit\", "
                    "\"activated\", \"error\"" +
                    here());
    }
    return true;
  }

  bool open(Value::Kind kind) {
    if (skipped_depth_ > 0) {
      ++skipped_depth_;
      return true;
    }
    Value value = make_value(kind);
    if (open_.empty() && kind != Value::Kind::Object) {
      return failed("expected a reply object, found " + describe(value) + here());
    }
    if (expecting_tag_) return take_tag(value);
    Value* placed = place(std::move(value));
    if (open_.size() >= kKeptDepth) {
      skipped_depth_ = 1;  // no field lies this deep: note the kind, drop the content
    } else {
      open_.push_back(placed);
    }
    return true;
  }

  bool close() {
    if (skipped_depth_ > 0) {
      --skipped_depth_;
      return true;
    }
    open_.back()->end_event = event_;
    open_.pop_back();
    if (open_.empty() && !tag_) return failed("missing member \"type\"" + here());
    return true;
  }

  std::string_view payload_;
  std::size_t event_ = 0;  // the number of the current SAX event
  Value root_;
  std::vector<Value*> open_;  // kept containers, outermost first
  std::size_t skipped_depth_ = 0;
  bool expecting_tag_ = false;
  std::optional<Tag> tag_;
  std::optional<std::string> error_;
};

// ---------------------------------------------------------------------------
// From set-aside members to typed fields.

template <class T>
using Decoded = Result<T, std::string>;

class FieldDecoder {
 public:
  explicit FieldDecoder(std::string_view payload) : payload_(payload) {}

  // The members named by `keys`, each at most once; members with other keys
  // are dropped. `object` names the object in messages ("" for the reply).
  template <std::size_t N>
  Decoded<std::array<const Value*, N>> pick(const Value& object, const std::array<std::string_view, N>& keys,
                                             const std::string& object_path) const {
    std::array<const Value*, N> found{};
    for (const Member& member : object.members) {
      auto key = std::find(keys.begin(), keys.end(), member.key);
      if (key == keys.end()) continue;
      auto& slot = found[static_cast<std::size_t>(key - keys.begin())];
      if (slot) return fail("duplicate field \"" + path(object_path, *key) + "\"" + at(member.key_event));
      slot = &member.value;
    }
    return found;
  }

  Decoded<std::string> text(const Value* value, const std::string& name, const Value& owner) const {
    if (!value) return missing(name, owner);
    if (value->kind != Value::Kind::String) return wrong_type(name, "a string", *value);
    return value->text;
  }

  Decoded<std::optional<std::string>> optional_text(const Value* value, const std::string& name) const {
    if (!value || value->kind == Value::Kind::Null) return std::optional<std::string>();
    if (value->kind != Value::Kind::String) return wrong_type(name, "a string or null", *value);
    return std::optional<std::string>(value->text);
  }

  // Only numbers written without fraction or exponent, within T's range.
  template <class T>
  Decoded<T> integer(const Value* value, const std::string& name, const Value& owner) const {
    if (!value) return missing(name, owner);
    bool in_range = false;
    switch (value->kind) {
      case Value::Kind::Unsigned: in_range = std::in_range<T>(value->unsigned_number); break;
      case Value::Kind::Signed: in_range = std::in_range<T>(value->signed_number); break;
      case Value::Kind::Float:
        // nlohmann hands over integers too large for 64 bits as floats.
        if (value->text.find_first_of(".eE") == std::string::npos) break;
        return fail("invalid value for \"" + name + "\": " + value->text + " is not an integer" +
                    at(value->event));
      default: return wrong_type(name, "an integer", *value);
    }
    if (!in_range) {
      return fail("invalid value for \"" + name + "\": " + describe(*value) + " is out of range " +
                  std::to_string(std::numeric_limits<T>::min()) + " to " +
                  std::to_string(std::numeric_limits<T>::max()) + at(value->event));
    }
    return value->kind == Value::Kind::Unsigned ? static_cast<T>(value->unsigned_number)
                                                : static_cast<T>(value->signed_number);
  }

  Decoded<std::vector<std::string>> texts(const Value* value, const std::string& name, const Value& owner) const {
    if (!value) return missing(name, owner);
    if (value->kind != Value::Kind::Array) return wrong_type(name, "an array of strings", *value);
    std::vector<std::string> out;
    out.reserve(value->items.size());
    for (std::size_t i = 0; i < value->items.size(); ++i) {
      auto item = text(&value->items[i], name + "[" + std::to_string(i) + "]", *value);
      if (!item) return fail(std::move(item).error());
      out.push_back(std::move(*item));
    }
    return out;
  }

  Decoded<ErrorCode> code_word(const Value* value, const std::string& name, const Value& owner) const {
    auto word = text(value, name, owner);
    if (!word) return fail(std::move(word).error());
    auto code = parse_code_word(*word);
    if (!code) return fail("unknown error code " + quoted_excerpt(*word) + at(value->event));
    return *code;
  }

  std::string at(std::size_t event) const { return where(payload_, event); }

  static std::string path(const std::string& object_path, std::string_view key) {
    return object_path.empty() ? std::string(key) : object_path + "." + std::string(key);
  }

  Failure<std::string> wrong_type(const std::string& name, std::string_view expected, const Value& found) const {
    return fail("invalid type for \"" + name + "\": expected " + std::string(expected) + ", found " +
                describe(found) + at(found.event));
  }

 private:
  Failure<std::string> missing(const std::string& name, const Value& owner) const {
    return fail("missing field \"" + name + "\"" + at(owner.end_event));
  }

  std::string_view payload_;
};

// Unwraps a Decoded value into `target`, or returns its failure from the caller.
#define SORVANE_TAKE(target, expression)                    \
  do {                                                      \
    auto taken_ = (expression);                             \
    if (!taken_) return fail(std::move(taken_).error());    \
    (target) = std::move(taken_).value();                   \
  } while (false)

Decoded<HostInfo> decode_host(const FieldDecoder& fields, const Value& object, const std::string& object_path) {
  if (object.kind != Value::Kind::Object) return fields.wrong_type(object_path, "a host object", object);
  static constexpr std::array<std::string_view, 7> kKeys = {"id", "name", "group", "user", "host", "port", "os"};
  std::array<const Value*, 7> f{};
  SORVANE_TAKE(f, fields.pick(object, kKeys, object_path));
  auto name = [&](std::size_t i) { return FieldDecoder::path(object_path, kKeys[i]); };
  HostInfo host;
  SORVANE_TAKE(host.id, fields.text(f[0], name(0), object));
  SORVANE_TAKE(host.name, fields.text(f[1], name(1), object));
  SORVANE_TAKE(host.group, fields.optional_text(f[2], name(2)));
  SORVANE_TAKE(host.user, fields.text(f[3], name(3), object));
  SORVANE_TAKE(host.host, fields.text(f[4], name(4), object));
  SORVANE_TAKE(host.port, fields.integer<std::uint16_t>(f[5], name(5), object));
  SORVANE_TAKE(host.os, fields.optional_text(f[6], name(6)));
  return host;
}

Decoded<Reply> decode_hosts(const FieldDecoder& fields, const Value& root) {
  std::array<const Value*, 1> f{};
  SORVANE_TAKE(f, fields.pick(root, std::array<std::string_view, 1>{"hosts"}, ""));
  if (!f[0]) return fail("missing field \"hosts\"" + fields.at(root.end_event));
  if (f[0]->kind != Value::Kind::Array) return fields.wrong_type("hosts", "an array of hosts", *f[0]);
  Reply::Hosts hosts;
  hosts.hosts.reserve(f[0]->items.size());
  for (std::size_t i = 0; i < f[0]->items.size(); ++i) {
    HostInfo host;
    SORVANE_TAKE(host, decode_host(fields, f[0]->items[i], "hosts[" + std::to_string(i) + "]"));
    hosts.hosts.push_back(std::move(host));
  }
  return Reply{std::move(hosts)};
}

Decoded<Reply> decode_progress(const FieldDecoder& fields, const Value& root) {
  static constexpr std::array<std::string_view, 4> kKeys = {"files", "total_files", "bytes", "total_bytes"};
  std::array<const Value*, 4> f{};
  SORVANE_TAKE(f, fields.pick(root, kKeys, ""));
  TransferCounters counters;
  std::uint64_t* targets[] = {&counters.files, &counters.total_files, &counters.bytes, &counters.total_bytes};
  for (std::size_t i = 0; i < kKeys.size(); ++i) {
    SORVANE_TAKE(*targets[i], fields.integer<std::uint64_t>(f[i], std::string(kKeys[i]), root));
  }
  return Reply{Reply::Progress{counters}};
}

Decoded<Reply> decode_transfer_done(const FieldDecoder& fields, const Value& root) {
  static constexpr std::array<std::string_view, 5> kKeys = {"files", "bytes", "skipped", "failed", "failures"};
  std::array<const Value*, 5> f{};
  SORVANE_TAKE(f, fields.pick(root, kKeys, ""));
  TransferSummary summary;
  std::uint64_t* targets[] = {&summary.files, &summary.bytes, &summary.skipped, &summary.failed};
  for (std::size_t i = 0; i < 4; ++i) {
    SORVANE_TAKE(*targets[i], fields.integer<std::uint64_t>(f[i], std::string(kKeys[i]), root));
  }
  SORVANE_TAKE(summary.failures, fields.texts(f[4], "failures", root));
  return Reply{Reply::TransferDone{std::move(summary)}};
}

Decoded<Reply> decode_exit(const FieldDecoder& fields, const Value& root) {
  std::array<const Value*, 1> f{};
  SORVANE_TAKE(f, fields.pick(root, std::array<std::string_view, 1>{"code"}, ""));
  Reply::Exit exit;
  SORVANE_TAKE(exit.code, fields.integer<std::int32_t>(f[0], "code", root));
  return Reply{exit};
}

Decoded<Reply> decode_error(const FieldDecoder& fields, const Value& root) {
  std::array<const Value*, 2> f{};
  SORVANE_TAKE(f, fields.pick(root, std::array<std::string_view, 2>{"code", "message"}, ""));
  Reply::Error error{ErrorCode::ConnectFailed, {}};
  SORVANE_TAKE(error.code, fields.code_word(f[0], "code", root));
  SORVANE_TAKE(error.message, fields.text(f[1], "message", root));
  return Reply{std::move(error)};
}

#undef SORVANE_TAKE

Decoded<Reply> decode_variant(Tag tag, const FieldDecoder& fields, const Value& root) {
  switch (tag) {
    case Tag::Hosts: return decode_hosts(fields, root);
    case Tag::Progress: return decode_progress(fields, root);
    case Tag::TransferDone: return decode_transfer_done(fields, root);
    case Tag::Exit: return decode_exit(fields, root);
    case Tag::Activated: return Reply{Reply::Activated{}};
    case Tag::Error: return decode_error(fields, root);
  }
  return fail(std::string("unknown reply type"));
}

}  // namespace

Result<Reply, std::string> decode_reply(std::string_view payload) {
  // nlohmann would skip a byte order mark silently; JSON text has none.
  if (payload.starts_with("\xEF\xBB\xBF")) return fail(std::string("unexpected byte order mark at line 1, column 1"));

  ReplyCollector collector(payload);
  try {
    bool parsed = Json::sax_parse(payload.data(), payload.data() + payload.size(), &collector);
    if (!parsed || collector.error()) {
      return fail(collector.error().value_or("malformed reply"));
    }
  } catch (const std::exception& error) {
    return fail("cannot decode reply: " + std::string(error.what()));
  }
  // A successful parse has seen the whole object, tag included.
  return decode_variant(*collector.tag(), FieldDecoder(payload), collector.root());
}

}  // namespace sorvane
