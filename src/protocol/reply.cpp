#include "protocol/reply.h"

#include <array>
#include <limits>
#include <utility>

#include "protocol/json_reader.h"
#include "protocol/request.h"

namespace sorvane {
namespace {

using Token = JsonReader::Token;
using Step = JsonReader::Step;

// ---------------------------------------------------------------------------
// Values as far as fields and descriptions need them. A member's meaning
// depends only on its key and depth, never on the tag ("hosts" is a host list
// whatever the tag turns out to be), so members are read as they arrive into
// fixed slots, and the tag decides at the end which slots count. Containers
// that hold no field are skipped and only their kind is kept.

struct Value {
  enum class Kind { Null, Boolean, Unsigned, Signed, Float, String, Array, Object };
  Kind kind = Kind::Null;
  TextPosition at;  // where the value's first token was read
  bool boolean = false;
  std::uint64_t unsigned_number = 0;
  std::int64_t signed_number = 0;  // negative numbers, and "-0"
  std::string text;                // a string
  std::string_view literal;        // a float as written
};

// One known member of an object.
struct Slot {
  bool present = false;
  bool repeated = false;
  TextPosition repeat;  // the key of the first repeat
  Value value;
};

std::string quoted_excerpt(std::string_view text) {
  constexpr std::size_t kMax = 40;
  if (text.size() <= kMax) return json_quote(text);
  std::size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return json_quote(text.substr(0, cut)) + "...";
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
      return std::string(value.literal);
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

using HostSlots = std::array<Slot, kHostKeys.size()>;
using RootSlots = std::array<Slot, kRootKeys.size()>;

// The slot that the value of `key` fills: none for unknown keys and for
// repeats, which only count as repeats.
template <std::size_t N>
Slot* claim(std::array<Slot, N>& slots, const std::array<std::string_view, N>& keys,
            std::string_view key, TextPosition at) {
  for (std::size_t i = 0; i < N; ++i) {
    if (keys[i] != key) continue;
    Slot& slot = slots[i];
    if (!slot.present) {
      slot.present = true;
      return &slot;
    }
    if (!slot.repeated) {
      slot.repeated = true;
      slot.repeat = at;
    }
    return nullptr;
  }
  return nullptr;
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

Failure<std::string> missing(const FieldName& name, TextPosition owner_end) {
  return fail("missing field \"" + name.text() + "\"" + describe(owner_end));
}

Failure<std::string> wrong_type(const FieldName& name, std::string_view expected,
                                const Value& found) {
  return fail("invalid type for \"" + name.text() + "\": expected " + std::string(expected) +
              ", found " + describe(found) + describe(found.at));
}

// The slot's text is moved out.
Decoded<std::string> text(Slot& slot, const FieldName& name, TextPosition owner_end) {
  if (!slot.present) return missing(name, owner_end);
  if (slot.value.kind != Value::Kind::String) return wrong_type(name, "a string", slot.value);
  return std::move(slot.value.text);
}

Decoded<std::optional<std::string>> optional_text(Slot& slot, const FieldName& name) {
  if (!slot.present || slot.value.kind == Value::Kind::Null) return std::optional<std::string>();
  if (slot.value.kind != Value::Kind::String)
    return wrong_type(name, "a string or null", slot.value);
  return std::optional<std::string>(std::move(slot.value.text));
}

// Only numbers written without fraction or exponent, within T's range.
template <class T>
Decoded<T> integer(const Slot& slot, const FieldName& name, TextPosition owner_end) {
  if (!slot.present) return missing(name, owner_end);
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
      // Integers too large for 64 bits are read as floats.
      if (value.literal.find_first_of(".eE") == std::string_view::npos) break;
      return fail("invalid value for \"" + name.text() + "\": " + std::string(value.literal) +
                  " is not an integer" + describe(value.at));
    default:
      return wrong_type(name, "an integer", value);
  }
  if (!in_range) {
    return fail("invalid value for \"" + name.text() + "\": " + describe(value) +
                " is out of range " + std::to_string(std::numeric_limits<T>::min()) + " to " +
                std::to_string(std::numeric_limits<T>::max()) + describe(value.at));
  }
  return value.kind == Value::Kind::Unsigned ? static_cast<T>(value.unsigned_number)
                                             : static_cast<T>(value.signed_number);
}

Decoded<std::vector<std::string>> texts(const Slot& slot, std::vector<Value>& items,
                                        const FieldName& name, TextPosition owner_end) {
  if (!slot.present) return missing(name, owner_end);
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

Decoded<ErrorCode> code_word(Slot& slot, const FieldName& name, TextPosition owner_end) {
  auto word = text(slot, name, owner_end);
  if (!word) return fail(std::move(word).error());
  auto code = parse_code_word(*word);
  if (!code) return fail("unknown error code " + quoted_excerpt(*word) + describe(slot.value.at));
  return *code;
}

// The first repeat in the payload among `fields`, if any.
template <std::size_t N, std::size_t M>
std::optional<Failure<std::string>> repeated(const std::array<Slot, N>& slots,
                                             const std::array<std::string_view, N>& keys,
                                             const std::array<std::size_t, M>& fields,
                                             const FieldName& object) {
  std::optional<std::size_t> first;
  for (std::size_t field : fields) {
    if (slots[field].repeated && (!first || slots[field].repeat < slots[*first].repeat)) {
      first = field;
    }
  }
  if (!first) return std::nullopt;
  FieldName name = object.key.empty() ? FieldName{keys[*first]}
                                      : FieldName{object.key, object.index, keys[*first]};
  return fail("duplicate field \"" + name.text() + "\"" + describe(slots[*first].repeat));
}

// Unwraps a Decoded value into `target`, or returns its failure from the caller.
#define SORVANE_TAKE(target, expression)                 \
  do {                                                   \
    auto taken_ = (expression);                          \
    if (!taken_) return fail(std::move(taken_).error()); \
    (target) = std::move(taken_).value();                \
  } while (false)

Decoded<void> decode_host(HostSlots& f, std::size_t index, TextPosition end, HostInfo& host) {
  static constexpr std::array<std::size_t, 7> kAll = {kId, kName, kGroup, kUser, kHost, kPort, kOs};
  if (auto repeat = repeated(f, kHostKeys, kAll, FieldName{"hosts", index})) return *repeat;
  auto name = [&](std::size_t field) { return FieldName{"hosts", index, kHostKeys[field]}; };
  SORVANE_TAKE(host.id, text(f[kId], name(kId), end));
  SORVANE_TAKE(host.name, text(f[kName], name(kName), end));
  SORVANE_TAKE(host.group, optional_text(f[kGroup], name(kGroup)));
  SORVANE_TAKE(host.user, text(f[kUser], name(kUser), end));
  SORVANE_TAKE(host.host, text(f[kHost], name(kHost), end));
  SORVANE_TAKE(host.port, integer<std::uint16_t>(f[kPort], name(kPort), end));
  SORVANE_TAKE(host.os, optional_text(f[kOs], name(kOs)));
  return {};
}

// ---------------------------------------------------------------------------
// The reader walks the payload once. The tag is checked as soon as it is
// met, every other member of the reply object is filed by key, and each host
// is decoded as it closes; the fields of the tag's type are checked at the end.

class ReplyDecoder {
 public:
  explicit ReplyDecoder(std::string_view payload) : in_(payload) {}

  Decoded<Reply> decode() {
    if (in_.broken_byte_order_mark()) return fail(in_.error());
    in_.next();
    if (!in_.starts_value()) return fail(in_.error());
    if (in_.token() != Token::BeginObject) {
      Value value;
      read_head(value);
      return fail("expected a reply object, found " + describe(value) + describe(value.at));
    }
    if (!reply_object() || !in_.at_end()) return fail(in_.error());
    return reply();
  }

 private:
  // The value whose first token is current, without reading further.
  void read_head(Value& value) {
    value.at = in_.position();
    switch (in_.token()) {
      case Token::String:
        value.kind = Value::Kind::String;
        value.text.assign(in_.string());
        break;
      case Token::Unsigned:
        value.kind = Value::Kind::Unsigned;
        value.unsigned_number = in_.magnitude();
        break;
      case Token::Negative:
        value.kind = Value::Kind::Signed;
        value.signed_number = static_cast<std::int64_t>(0 - in_.magnitude());
        break;
      case Token::Float:
        value.kind = Value::Kind::Float;
        value.literal = in_.literal();
        break;
      case Token::True:
      case Token::False:
        value.kind = Value::Kind::Boolean;
        value.boolean = in_.token() == Token::True;
        break;
      case Token::BeginArray:
        value.kind = Value::Kind::Array;
        break;
      case Token::BeginObject:
        value.kind = Value::Kind::Object;
        break;
      default:
        value.kind = Value::Kind::Null;
        break;
    }
  }

  bool read(Value& value) {
    read_head(value);
    return in_.skip_value();
  }

  // Calls `member(key, where)` for each key of the object whose '{' is
  // current, with the value's first token current after it returns.
  template <class Key, class Member>
  bool members(Key&& key, Member&& member) {
    for (bool first = true;; first = false) {
      const Step step = in_.next_key(first);
      if (step != Step::Item) return step == Step::End;
      if (!key(in_.string(), in_.position()) || !in_.to_value() || !member()) return false;
    }
  }

  template <class Element>
  bool elements(Element&& element) {
    for (bool first = true;; first = false) {
      const Step step = in_.next_element(first);
      if (step != Step::Item) return step == Step::End;
      if (!element()) return false;
    }
  }

  bool reply_object() {
    Slot* slot = nullptr;
    bool is_tag = false;
    auto key = [&](std::string_view name, TextPosition at) {
      is_tag = name == "type";
      if (is_tag && tag_) return in_.fault("duplicate member \"type\"" + describe(at));
      slot = is_tag ? nullptr : claim(root_, kRootKeys, name, at);
      return true;
    };
    auto member = [&] {
      if (is_tag) return take_tag();
      if (!slot) return in_.skip_value();
      if (in_.token() == Token::BeginArray && slot == &root_[kHosts]) return host_list(slot->value);
      if (in_.token() == Token::BeginArray && slot == &root_[kFailures]) {
        read_head(slot->value);
        return elements([&] { return read(failure_items_.emplace_back()); });
      }
      return read(slot->value);
    };
    if (!members(key, member)) return false;
    root_end_ = in_.position();
    return tag_ || in_.fault("missing member \"type\"" + describe(root_end_));
  }

  bool take_tag() {
    if (in_.token() != Token::String) {
      Value value;
      read_head(value);
      return in_.fault("invalid type for \"type\": expected a string, found " + describe(value) +
                       describe(value.at));
    }
    tag_ = parse_tag(in_.string());
    return tag_ || in_.fault("unknown reply type " + quoted_excerpt(in_.string()) +
                             ", expected one of \"hosts\", \"progress\", \"transfer_done\", "
                             "\"exit\", \"activated\", \"error\"" +
                             describe(in_.position()));
  }

  bool host_list(Value& list) {
    read_head(list);
    return elements([&] {
      const std::size_t index = host_count_++;
      if (in_.token() == Token::BeginObject) return host(index);
      Value item;
      if (!read(item)) return false;
      if (!host_error_) host_error_ = wrong_type({"hosts", index}, "a host object", item).error;
      return true;
    });
  }

  bool host(std::size_t index) {
    for (Slot& slot : host_) slot.present = slot.repeated = false;
    Slot* slot = nullptr;
    auto key = [&](std::string_view name, TextPosition at) {
      slot = claim(host_, kHostKeys, name, at);
      return true;
    };
    if (!members(key, [&] { return slot ? read(slot->value) : in_.skip_value(); })) return false;
    if (host_error_) return true;  // the hosts before decide
    auto decoded = decode_host(host_, index, in_.position(), hosts_.emplace_back());
    if (!decoded) {
      hosts_.pop_back();
      host_error_ = std::move(decoded).error();
    }
    return true;
  }

  // After the whole payload was read, tag included.
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

  template <std::size_t M>
  std::optional<Failure<std::string>> repeated_among(const std::array<std::size_t, M>& fields) {
    return repeated(root_, kRootKeys, fields, FieldName{});
  }

  Decoded<std::uint64_t> counter(std::size_t field) {
    return integer<std::uint64_t>(root_[field], FieldName{kRootKeys[field]}, root_end_);
  }

  Decoded<Reply> hosts_reply() {
    if (auto repeat = repeated_among(std::array<std::size_t, 1>{kHosts})) return *repeat;
    const Slot& slot = root_[kHosts];
    if (!slot.present) return missing(FieldName{"hosts"}, root_end_);
    if (slot.value.kind != Value::Kind::Array) {
      return wrong_type(FieldName{"hosts"}, "an array of hosts", slot.value);
    }
    if (host_error_) return fail(std::move(*host_error_));
    return Reply{Reply::Hosts{std::move(hosts_)}};
  }

  Decoded<Reply> progress_reply() {
    static constexpr std::array<std::size_t, 4> kFields = {kFiles, kTotalFiles, kBytes,
                                                           kTotalBytes};
    if (auto repeat = repeated_among(kFields)) return *repeat;
    TransferCounters counters;
    std::uint64_t* targets[] = {&counters.files, &counters.total_files, &counters.bytes,
                                &counters.total_bytes};
    for (std::size_t i = 0; i < kFields.size(); ++i) SORVANE_TAKE(*targets[i], counter(kFields[i]));
    return Reply{Reply::Progress{counters}};
  }

  Decoded<Reply> transfer_done_reply() {
    static constexpr std::array<std::size_t, 5> kFields = {kFiles, kBytes, kSkipped, kFailed,
                                                           kFailures};
    if (auto repeat = repeated_among(kFields)) return *repeat;
    TransferSummary summary;
    std::uint64_t* targets[] = {&summary.files, &summary.bytes, &summary.skipped, &summary.failed};
    for (std::size_t i = 0; i < 4; ++i) SORVANE_TAKE(*targets[i], counter(kFields[i]));
    SORVANE_TAKE(summary.failures,
                 texts(root_[kFailures], failure_items_, FieldName{"failures"}, root_end_));
    return Reply{Reply::TransferDone{std::move(summary)}};
  }

  Decoded<Reply> exit_reply() {
    if (auto repeat = repeated_among(std::array<std::size_t, 1>{kCode})) return *repeat;
    Reply::Exit exit;
    SORVANE_TAKE(exit.code, integer<std::int32_t>(root_[kCode], FieldName{"code"}, root_end_));
    return Reply{exit};
  }

  Decoded<Reply> error_reply() {
    if (auto repeat = repeated_among(std::array<std::size_t, 2>{kCode, kMessage})) return *repeat;
    Reply::Error error{ErrorCode::ConnectFailed, {}};
    SORVANE_TAKE(error.code, code_word(root_[kCode], FieldName{"code"}, root_end_));
    SORVANE_TAKE(error.message, text(root_[kMessage], FieldName{"message"}, root_end_));
    return Reply{std::move(error)};
  }

  JsonReader in_;
  std::optional<Tag> tag_;
  RootSlots root_;
  TextPosition root_end_;
  HostSlots host_;
  std::size_t host_count_ = 0;  // hosts begun, including ones of the wrong type
  std::vector<HostInfo> hosts_;
  std::optional<std::string> host_error_;
  std::vector<Value> failure_items_;
};

#undef SORVANE_TAKE

}  // namespace

Result<Reply, std::string> decode_reply(std::string_view payload) {
  // JSON text carries no byte order mark.
  if (payload.starts_with("\xEF\xBB\xBF"))
    return fail(std::string("unexpected byte order mark at line 1, column 1"));
  return ReplyDecoder(payload).decode();
}

}  // namespace sorvane
