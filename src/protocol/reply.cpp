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
  static bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

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
  return static_cast<std::size_t>(finder.found().value_or(payload.data() + payload.size()) -
                                  payload.data());
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
// Values as far as fields and descriptions need them. A member's meaning
// depends only on its key and depth, never on the tag ("hosts" is a host list
// whatever the tag turns out to be), so members are decoded as they arrive
// into fixed slots, and the tag only decides at the end which slots count.
// Containers that hold no field are recorded by kind only, so hostile input
// cannot make anything deep.

struct Value {
  enum class Kind { Null, Boolean, Unsigned, Signed, Float, String, Array, Object };
  Kind kind = Kind::Null;
  std::size_t event = 0;  // the SAX event of the value's first token
  bool boolean = false;
  std::uint64_t unsigned_number = 0;
  std::int64_t signed_number = 0;  // negative numbers, and "-0"
  std::string text;                // a string, or the literal text of a float
};

// One known member of an object. Event numbers start at 1, so 0 means none.
struct Slot {
  bool present = false;
  std::size_t duplicate_event = 0;  // the key of the first repeat
  Value value;
};

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
    case Value::Kind::Null:
      return "null";
    case Value::Kind::Boolean:
      return value.boolean ? "true" : "false";
    case Value::Kind::Unsigned:
      return std::to_string(value.unsigned_number);
    case Value::Kind::Signed:
      return std::to_string(value.signed_number);
    case Value::Kind::Float:
      return value.text;
    case Value::Kind::String:
      return "string " + quoted_excerpt(value.text);
    case Value::Kind::Array:
      return "an array";
    case Value::Kind::Object:
      return "an object";
  }
  return "a value";
}

// ---------------------------------------------------------------------------
// Tags and keys.

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

// The fields of every reply type; the tag picks its own at the end.
enum RootField : std::size_t {
  kHosts,
  kFiles,
  kTotalFiles,
  kBytes,
  kTotalBytes,
  kSkipped,
  kFailed,
  kFailures,
  kCode,
  kMessage
};
constexpr std::array<std::string_view, 10> kRootKeys = {
    "hosts",   "files",  "total_files", "bytes", "total_bytes",
    "skipped", "failed", "failures",    "code",  "message"};

enum HostField : std::size_t { kId, kName, kGroup, kUser, kHost, kPort, kOs };
constexpr std::array<std::string_view, 7> kHostKeys = {"id",   "name", "group", "user",
                                                       "host", "port", "os"};

template <std::size_t N>
std::optional<std::size_t> key_index(const std::array<std::string_view, N>& keys,
                                     std::string_view key) {
  for (std::size_t i = 0; i < N; ++i) {
    if (keys[i] == key) return i;
  }
  return std::nullopt;
}

// A field's name in descriptions ("code", "hosts[3]", "hosts[3].port"),
// spelled out only when a description needs it.
struct FieldName {
  std::string_view key;
  std::optional<std::size_t> index = std::nullopt;  // an element of the array `key`
  std::string_view member = {};                     // a member of that element

  std::string text() const {
    std::string out(key);
    if (index) out += "[" + std::to_string(*index) + "]";
    if (!member.empty()) {
      out += '.';
      out += member;
    }
    return out;
  }
};

// ---------------------------------------------------------------------------
// From slots to typed fields, with a description naming the field and place.

template <class T>
using Decoded = Result<T, std::string>;

class FieldDecoder {
 public:
  explicit FieldDecoder(std::string_view payload) : payload_(payload) {}

  Failure<std::string> duplicate(const FieldName& name, std::size_t key_event) const {
    return fail("duplicate field \"" + name.text() + "\"" + at(key_event));
  }

  Failure<std::string> missing(const FieldName& name, std::size_t owner_end_event) const {
    return fail("missing field \"" + name.text() + "\"" + at(owner_end_event));
  }

  Failure<std::string> wrong_type(const FieldName& name, std::string_view expected,
                                  const Value& found) const {
    return fail("invalid type for \"" + name.text() + "\": expected " + std::string(expected) +
                ", found " + describe(found) + at(found.event));
  }

  // The slot's text is moved out.
  Decoded<std::string> text(Slot& slot, const FieldName& name, std::size_t owner_end_event) const {
    if (!slot.present) return missing(name, owner_end_event);
    if (slot.value.kind != Value::Kind::String) return wrong_type(name, "a string", slot.value);
    return std::move(slot.value.text);
  }

  Decoded<std::optional<std::string>> optional_text(Slot& slot, const FieldName& name) const {
    if (!slot.present || slot.value.kind == Value::Kind::Null) return std::optional<std::string>();
    if (slot.value.kind != Value::Kind::String)
      return wrong_type(name, "a string or null", slot.value);
    return std::optional<std::string>(std::move(slot.value.text));
  }

  // Only numbers written without fraction or exponent, within T's range.
  template <class T>
  Decoded<T> integer(const Slot& slot, const FieldName& name, std::size_t owner_end_event) const {
    if (!slot.present) return missing(name, owner_end_event);
    const Value& value = slot.value;
    bool in_range = false;
    switch (value.kind) {
      case Value::Kind::Unsigned:
        in_range = std::in_range<T>(value.unsigned_number);
        break;
      case Value::Kind::Signed:
        in_range = std::in_range<T>(value.signed_number);
        break;
      case Value::Kind::Float:
        // nlohmann hands over integers too large for 64 bits as floats.
        if (value.text.find_first_of(".eE") == std::string::npos) break;
        return fail("invalid value for \"" + name.text() + "\": " + value.text +
                    " is not an integer" + at(value.event));
      default:
        return wrong_type(name, "an integer", value);
    }
    if (!in_range) {
      return fail("invalid value for \"" + name.text() + "\": " + describe(value) +
                  " is out of range " + std::to_string(std::numeric_limits<T>::min()) + " to " +
                  std::to_string(std::numeric_limits<T>::max()) + at(value.event));
    }
    return value.kind == Value::Kind::Unsigned ? static_cast<T>(value.unsigned_number)
                                               : static_cast<T>(value.signed_number);
  }

  Decoded<std::vector<std::string>> texts(const Slot& slot, std::vector<Value>& items,
                                          const FieldName& name,
                                          std::size_t owner_end_event) const {
    if (!slot.present) return missing(name, owner_end_event);
    if (slot.value.kind != Value::Kind::Array)
      return wrong_type(name, "an array of strings", slot.value);
    std::vector<std::string> out;
    out.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i].kind != Value::Kind::String)
        return wrong_type(FieldName{name.key, i}, "a string", items[i]);
      out.push_back(std::move(items[i].text));
    }
    return out;
  }

  Decoded<ErrorCode> code_word(Slot& slot, const FieldName& name,
                               std::size_t owner_end_event) const {
    auto word = text(slot, name, owner_end_event);
    if (!word) return fail(std::move(word).error());
    auto code = parse_code_word(*word);
    if (!code) return fail("unknown error code " + quoted_excerpt(*word) + at(slot.value.event));
    return *code;
  }

  // The first repeated field among `fields`, in the order of the payload.
  template <std::size_t N, std::size_t M>
  std::optional<Failure<std::string>> repeated(const std::array<Slot, N>& slots,
                                               const std::array<std::string_view, N>& keys,
                                               const std::array<std::size_t, M>& fields,
                                               const FieldName& object) const {
    std::optional<std::size_t> first;
    for (std::size_t field : fields) {
      std::size_t event = slots[field].duplicate_event;
      if (event != 0 && (!first || event < slots[*first].duplicate_event)) first = field;
    }
    if (!first) return std::nullopt;
    FieldName name = object.key.empty() ? FieldName{keys[*first]}
                                        : FieldName{object.key, object.index, keys[*first]};
    return duplicate(name, slots[*first].duplicate_event);
  }

  std::string at(std::size_t event) const { return where(payload_, event); }

 private:
  std::string_view payload_;
};

// Unwraps a Decoded value into `target`, or returns its failure from the
// caller: only a macro can return from its caller.
// NOLINTNEXTLINE(cppcoreguidelines-macro-usage)
#define SORVANE_TAKE(target, expression)                 \
  do {                                                   \
    auto taken_ = (expression);                          \
    if (!taken_) return fail(std::move(taken_).error()); \
    (target) = std::move(taken_).value();                \
  } while (false)

using HostSlots = std::array<Slot, kHostKeys.size()>;
using RootSlots = std::array<Slot, kRootKeys.size()>;

Decoded<void> decode_host(const FieldDecoder& fields, HostSlots& f, std::size_t index,
                          std::size_t end_event, HostInfo& host) {
  static constexpr std::array<std::size_t, 7> kAll = {kId, kName, kGroup, kUser, kHost, kPort, kOs};
  if (auto repeated = fields.repeated(f, kHostKeys, kAll, FieldName{"hosts", index}))
    return *repeated;
  auto name = [&](std::size_t field) { return FieldName{"hosts", index, kHostKeys[field]}; };
  SORVANE_TAKE(host.id, fields.text(f[kId], name(kId), end_event));
  SORVANE_TAKE(host.name, fields.text(f[kName], name(kName), end_event));
  SORVANE_TAKE(host.group, fields.optional_text(f[kGroup], name(kGroup)));
  SORVANE_TAKE(host.user, fields.text(f[kUser], name(kUser), end_event));
  SORVANE_TAKE(host.host, fields.text(f[kHost], name(kHost), end_event));
  SORVANE_TAKE(host.port, fields.integer<std::uint16_t>(f[kPort], name(kPort), end_event));
  SORVANE_TAKE(host.os, fields.optional_text(f[kOs], name(kOs)));
  return {};
}

// ---------------------------------------------------------------------------
// SAX handler: checks the tag as soon as it is met and files every other
// member of the reply object by key; each host is decoded as it closes.

class ReplyCollector {
 public:
  explicit ReplyCollector(std::string_view payload) : fields_(payload) {}

  bool null() {
    return scalar(Value::Kind::Null, [](Value&) {});
  }
  bool boolean(bool flag) {
    return scalar(Value::Kind::Boolean, [&](Value& value) { value.boolean = flag; });
  }
  bool number_integer(Json::number_integer_t number) {
    return scalar(Value::Kind::Signed, [&](Value& value) { value.signed_number = number; });
  }
  bool number_unsigned(Json::number_unsigned_t number) {
    return scalar(Value::Kind::Unsigned, [&](Value& value) { value.unsigned_number = number; });
  }
  bool number_float(Json::number_float_t, const Json::string_t& literal) {
    return scalar(Value::Kind::Float, [&](Value& value) { value.text = literal; });
  }
  bool string(Json::string_t& text) {
    return scalar(Value::Kind::String, [&](Value& value) { value.text = std::move(text); });
  }
  bool binary(Json::binary_t&) {
    ++event_;
    return failed("unexpected binary value" + here());
  }

  bool start_object(std::size_t) { return open(Value::Kind::Object); }
  bool start_array(std::size_t) { return open(Value::Kind::Array); }
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
    if (level_ == Level::Root) {
      if (name == "type") {
        if (tag_) return failed("duplicate member \"type\"" + here());
        expecting_tag_ = true;
        return true;
      }
      target_ = claim(root_, key_index(kRootKeys, name));
    } else {
      target_ = claim(host_, key_index(kHostKeys, name));
    }
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
    // Drop the "[json.exception.parse_error.101] " prefix; the rest names line and column.
    std::string_view text = error.what();
    if (auto end = text.find("] ");
        !text.empty() && text.front() == '[' && end != std::string_view::npos) {
      text.remove_prefix(end + 2);
    }
    return failed(printable_excerpt(text));
  }

  const std::optional<std::string>& error() const { return error_; }

  // After a successful parse, which has seen the whole object, tag included.
  Decoded<Reply> reply() {
    switch (*tag_) {
      case Tag::Hosts:
        return hosts_reply();
      case Tag::Progress:
        return progress_reply();
      case Tag::TransferDone:
        return transfer_done_reply();
      case Tag::Exit:
        return exit_reply();
      case Tag::Activated:
        return Reply{Reply::Activated{}};
      case Tag::Error:
        return error_reply();
    }
    return fail(std::string("unknown reply type"));
  }

 private:
  // The kept containers: the reply object, the first "hosts" or "failures"
  // array in it, and the host objects in that "hosts" array.
  enum class Level { None, Root, Hosts, Failures, Host };

  Value make_value(Value::Kind kind) const {
    Value value;
    value.kind = kind;
    value.event = event_;
    return value;
  }
  std::string here() const { return fields_.at(event_); }

  bool failed(std::string message) {
    error_ = std::move(message);
    return false;
  }

  // The slot that the next value fills: none for unknown keys and for
  // repeats, which only count as repeats.
  template <std::size_t N>
  Slot* claim(std::array<Slot, N>& slots, std::optional<std::size_t> field) {
    if (!field) return nullptr;
    Slot& slot = slots[*field];
    if (slot.present) {
      if (slot.duplicate_event == 0) slot.duplicate_event = event_;
      return nullptr;
    }
    slot.present = true;
    return &slot;
  }

  // Values are written straight to where they belong; the few that need
  // a look first (the tag, a top-level value, a host that is no object) go
  // to a scratch value.
  template <class Fill>
  bool scalar(Value::Kind kind, Fill&& fill) {
    ++event_;
    if (skipped_depth_ > 0) return true;
    Value* value = destination();
    if (!value) return true;
    value->kind = kind;
    value->event = event_;
    fill(*value);
    return settle(*value);
  }

  Value* destination() {
    switch (level_) {
      case Level::Root:
        if (expecting_tag_) return &scratch_;
        [[fallthrough]];
      case Level::Host:
        return target_ ? &target_->value : nullptr;
      case Level::Failures:
        return &failure_items_.emplace_back();
      case Level::None:
      case Level::Hosts:
        return &scratch_;
    }
    return nullptr;
  }

  bool settle(const Value& value) {
    if (&value != &scratch_) return true;
    switch (level_) {
      case Level::None:
        return failed("expected a reply object, found " + describe(value) + here());
      case Level::Root:
        return take_tag(value);
      case Level::Hosts:
        ++host_count_;
        if (!host_error_) {
          host_error_ =
              fields_.wrong_type(FieldName{"hosts", host_count_ - 1}, "a host object", value).error;
        }
        return true;
      default:
        return true;
    }
  }

  bool take_tag(const Value& value) {
    expecting_tag_ = false;
    if (value.kind != Value::Kind::String) {
      return failed("invalid type for \"type\": expected a string, found " + describe(value) +
                    here());
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
      ++event_;
      ++skipped_depth_;
      return true;
    }
    std::optional<Level> inner = kept_level(kind);
    if (!inner) {
      // No field lies in here: the kind is noted like a scalar's, the content dropped.
      bool taken = scalar(kind, [](Value&) {});
      skipped_depth_ = 1;
      return taken;
    }
    ++event_;
    if (*inner == Level::Host) begin_host();
    if (level_ == Level::Root) target_->value = make_value(kind);
    level_ = *inner;
    return true;
  }

  // The level a container opened here starts, if its content matters.
  std::optional<Level> kept_level(Value::Kind kind) const {
    const bool array = kind == Value::Kind::Array;
    switch (level_) {
      case Level::None:
        if (!array) return Level::Root;
        return std::nullopt;
      case Level::Root:
        if (expecting_tag_) return std::nullopt;
        if (target_ == &root_[kHosts] && array) return Level::Hosts;
        if (target_ == &root_[kFailures] && array) return Level::Failures;
        return std::nullopt;
      case Level::Hosts:
        if (!array) return Level::Host;
        return std::nullopt;
      default:
        return std::nullopt;
    }
  }

  void begin_host() {
    ++host_count_;
    for (Slot& slot : host_) {
      slot.present = false;
      slot.duplicate_event = 0;
    }
  }

  void end_host() {
    if (host_error_) return;  // the hosts before decide
    auto decoded = decode_host(fields_, host_, host_count_ - 1, event_, hosts_.emplace_back());
    if (!decoded) {
      hosts_.pop_back();
      host_error_ = std::move(decoded).error();
    }
  }

  bool close() {
    if (skipped_depth_ > 0) {
      --skipped_depth_;
      return true;
    }
    switch (level_) {
      case Level::Host:
        end_host();
        level_ = Level::Hosts;
        return true;
      case Level::Hosts:
      case Level::Failures:
        level_ = Level::Root;
        return true;
      default:
        level_ = Level::None;
        root_end_event_ = event_;
        if (!tag_) return failed("missing member \"type\"" + here());
        return true;
    }
  }

  Decoded<Reply> hosts_reply() {
    if (auto repeated =
            fields_.repeated(root_, kRootKeys, std::array<std::size_t, 1>{kHosts}, FieldName{})) {
      return *repeated;
    }
    const Slot& slot = root_[kHosts];
    if (!slot.present) return fields_.missing(FieldName{"hosts"}, root_end_event_);
    if (slot.value.kind != Value::Kind::Array) {
      return fields_.wrong_type(FieldName{"hosts"}, "an array of hosts", slot.value);
    }
    if (host_error_) return fail(std::move(*host_error_));
    return Reply{Reply::Hosts{std::move(hosts_)}};
  }

  Decoded<Reply> progress_reply() {
    static constexpr std::array<std::size_t, 4> kFields = {kFiles, kTotalFiles, kBytes,
                                                           kTotalBytes};
    if (auto repeated = fields_.repeated(root_, kRootKeys, kFields, FieldName{})) return *repeated;
    TransferCounters counters;
    std::uint64_t* targets[] = {&counters.files, &counters.total_files, &counters.bytes,
                                &counters.total_bytes};
    for (std::size_t i = 0; i < kFields.size(); ++i) {
      SORVANE_TAKE(*targets[i],
                   fields_.integer<std::uint64_t>(
                       root_[kFields[i]], FieldName{kRootKeys[kFields[i]]}, root_end_event_));
    }
    return Reply{Reply::Progress{counters}};
  }

  Decoded<Reply> transfer_done_reply() {
    static constexpr std::array<std::size_t, 5> kFields = {kFiles, kBytes, kSkipped, kFailed,
                                                           kFailures};
    if (auto repeated = fields_.repeated(root_, kRootKeys, kFields, FieldName{})) return *repeated;
    TransferSummary summary;
    std::uint64_t* targets[] = {&summary.files, &summary.bytes, &summary.skipped, &summary.failed};
    for (std::size_t i = 0; i < 4; ++i) {
      SORVANE_TAKE(*targets[i],
                   fields_.integer<std::uint64_t>(
                       root_[kFields[i]], FieldName{kRootKeys[kFields[i]]}, root_end_event_));
    }
    SORVANE_TAKE(summary.failures, fields_.texts(root_[kFailures], failure_items_,
                                                 FieldName{"failures"}, root_end_event_));
    return Reply{Reply::TransferDone{std::move(summary)}};
  }

  Decoded<Reply> exit_reply() {
    if (auto repeated =
            fields_.repeated(root_, kRootKeys, std::array<std::size_t, 1>{kCode}, FieldName{})) {
      return *repeated;
    }
    Reply::Exit exit;
    SORVANE_TAKE(exit.code,
                 fields_.integer<std::int32_t>(root_[kCode], FieldName{"code"}, root_end_event_));
    return Reply{exit};
  }

  Decoded<Reply> error_reply() {
    if (auto repeated = fields_.repeated(
            root_, kRootKeys, std::array<std::size_t, 2>{kCode, kMessage}, FieldName{})) {
      return *repeated;
    }
    Reply::Error error{ErrorCode::ConnectFailed, {}};
    SORVANE_TAKE(error.code, fields_.code_word(root_[kCode], FieldName{"code"}, root_end_event_));
    SORVANE_TAKE(error.message,
                 fields_.text(root_[kMessage], FieldName{"message"}, root_end_event_));
    return Reply{std::move(error)};
  }

  FieldDecoder fields_;
  std::size_t event_ = 0;  // the number of the current SAX event
  Level level_ = Level::None;
  std::size_t skipped_depth_ = 0;
  bool expecting_tag_ = false;
  std::optional<Tag> tag_;
  Slot* target_ = nullptr;  // where the value of the last key goes, if anywhere
  RootSlots root_;
  std::size_t root_end_event_ = 0;
  HostSlots host_;
  std::size_t host_count_ = 0;  // hosts begun, including ones of the wrong type
  std::vector<HostInfo> hosts_;
  std::optional<std::string> host_error_;
  std::vector<Value> failure_items_;
  std::optional<std::string> error_;
  Value scratch_;
};

#undef SORVANE_TAKE

}  // namespace

Result<Reply, std::string> decode_reply(std::string_view payload) {
  // nlohmann would skip a byte order mark silently; JSON text has none.
  if (payload.starts_with("\xEF\xBB\xBF"))
    return fail(std::string("unexpected byte order mark at line 1, column 1"));

  ReplyCollector collector(payload);
  try {
    bool parsed = Json::sax_parse(payload.data(), payload.data() + payload.size(), &collector);
    if (!parsed || collector.error()) {
      return fail(collector.error().value_or("malformed reply"));
    }
    return collector.reply();
  } catch (const std::exception& error) {
    return fail("cannot decode reply: " + std::string(error.what()));
  }
}

}  // namespace sorvane
