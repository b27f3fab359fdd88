#include "protocol/reply.h"

#include <algorithm>
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
  std::string_view literal;        // a float as written, or a string without escapes
  std::string unescaped;           // a string with escapes, decoded
  bool escaped = false;

  std::string_view text() const { return escaped ? std::string_view(unescaped) : literal; }
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
      return "string " + quoted_excerpt(value.text());
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
            const JsonReader& in) {
  const std::string_view key = in.string();
  for (std::size_t i = 0; i < N; ++i) {
    const std::string_view name = keys[i];
    if (name.size() != key.size() || name[0] != key[0] || name != key) continue;
    Slot& slot = slots[i];
    if (!slot.present) {
      slot.present = true;
      return &slot;
    }
    if (!slot.repeated) {
      slot.repeated = true;
      slot.repeat = in.position();
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
// What is wrong with a field, if anything; the field's value goes to a target.
using Fault = std::optional<std::string>;

std::string missing(const FieldName& name, TextPosition owner_end) {
  return "missing field \"" + name.text() + "\"" + describe(owner_end);
}

std::string wrong_type(const FieldName& name, std::string_view expected, const Value& found) {
  return "invalid type for \"" + name.text() + "\": expected " + std::string(expected) +
         ", found " + describe(found) + describe(found.at);
}

Fault text(const Slot& slot, const FieldName& name, TextPosition owner_end, std::string& target) {
  if (!slot.present) return missing(name, owner_end);
  if (slot.value.kind != Value::Kind::String) return wrong_type(name, "a string", slot.value);
  target = std::string(slot.value.text());
  return std::nullopt;
}

Fault optional_text(const Slot& slot, const FieldName& name, std::optional<std::string>& target) {
  if (!slot.present || slot.value.kind == Value::Kind::Null) {
    target.reset();
  } else if (slot.value.kind == Value::Kind::String) {
    target = std::string(slot.value.text());
  } else {
    return wrong_type(name, "a string or null", slot.value);
  }
  return std::nullopt;
}

// Only numbers written without fraction or exponent, within T's range.
template <class T>
Fault integer(const Slot& slot, const FieldName& name, TextPosition owner_end, T& target) {
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
      return "invalid value for \"" + name.text() + "\": " + std::string(value.literal) +
             " is not an integer" + describe(value.at);
    default:
      return wrong_type(name, "an integer", value);
  }
  if (!in_range) {
    return "invalid value for \"" + name.text() + "\": " + describe(value) + " is out of range " +
           std::to_string(std::numeric_limits<T>::min()) + " to " +
           std::to_string(std::numeric_limits<T>::max()) + describe(value.at);
  }
  target = value.kind == Value::Kind::Unsigned ? static_cast<T>(value.unsigned_number)
                                               : static_cast<T>(value.signed_number);
  return std::nullopt;
}

Fault texts(const Slot& slot, const std::vector<Value>& items, const FieldName& name,
            TextPosition owner_end, std::vector<std::string>& target) {
  if (!slot.present) return missing(name, owner_end);
  if (slot.value.kind != Value::Kind::Array)
    return wrong_type(name, "an array of strings", slot.value);
  target.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].kind != Value::Kind::String)
      return wrong_type(FieldName{name.key, i}, "a string", items[i]);
    target.emplace_back(items[i].text());
  }
  return std::nullopt;
}

Fault code_word(const Slot& slot, const FieldName& name, TextPosition owner_end,
                ErrorCode& target) {
  std::string word;
  if (auto fault = text(slot, name, owner_end, word)) return fault;
  auto code = parse_code_word(word);
  if (!code) return "unknown error code " + quoted_excerpt(word) + describe(slot.value.at);
  target = *code;
  return std::nullopt;
}

// The first repeat in the payload among `fields`, if any.
template <std::size_t N, std::size_t M>
Fault repeated(const std::array<Slot, N>& slots, const std::array<std::string_view, N>& keys,
               const std::array<std::size_t, M>& fields, const FieldName& object) {
  std::optional<std::size_t> first;
  for (std::size_t field : fields) {
    if (slots[field].repeated && (!first || slots[field].repeat < slots[*first].repeat)) {
      first = field;
    }
  }
  if (!first) return std::nullopt;
  FieldName name = object.key.empty() ? FieldName{keys[*first]}
                                      : FieldName{object.key, object.index, keys[*first]};
  return "duplicate field \"" + name.text() + "\"" + describe(slots[*first].repeat);
}

// The first fault among the steps, in order.
template <class First, class... Rest>
Fault first_fault(First&& first, Rest&&... rest) {
  if (Fault fault = first()) return fault;
  if constexpr (sizeof...(rest) > 0) return first_fault(std::forward<Rest>(rest)...);
  return std::nullopt;
}

Fault decode_host(HostSlots& f, std::size_t index, TextPosition end, HostInfo& host) {
  static constexpr std::array<std::size_t, 7> kAll = {kId, kName, kGroup, kUser, kHost, kPort, kOs};
  auto name = [&](std::size_t field) { return FieldName{"hosts", index, kHostKeys[field]}; };
  return first_fault(
      [&] {
        return repeated(f, kHostKeys, kAll, FieldName{"hosts", index});
      },
      [&] { return text(f[kId], name(kId), end, host.id); },
      [&] { return text(f[kName], name(kName), end, host.name); },
      [&] { return optional_text(f[kGroup], name(kGroup), host.group); },
      [&] { return text(f[kUser], name(kUser), end, host.user); },
      [&] { return text(f[kHost], name(kHost), end, host.host); },
      [&] { return integer(f[kPort], name(kPort), end, host.port); },
      [&] { return optional_text(f[kOs], name(kOs), host.os); });
}

// ---------------------------------------------------------------------------
// The reader walks the payload once. The tag is checked as soon as it is
// met, every other member of the reply object is filed by key, and each host
// is decoded as it closes; the fields of the tag's type are checked at the end.

class ReplyDecoder {
 public:
  explicit ReplyDecoder(std::string_view payload) : in_(payload), payload_size_(payload.size()) {}

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
        value.escaped = in_.escaped();
        if (value.escaped) {
          value.unescaped.assign(in_.string());
        } else {
          value.literal = in_.string();
        }
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
    return (value.kind != Value::Kind::Array && value.kind != Value::Kind::Object) ||
           in_.skip_value();
  }

  bool skip() {
    const Token token = in_.token();
    return (token != Token::BeginArray && token != Token::BeginObject) || in_.skip_value();
  }

  // Calls `key()` for each key of the object whose '{' is current, the key
  // being the current token, then `member()` with the value's first token current.
  template <class Key, class Member>
  bool members(Key&& key, Member&& member) {
    for (bool first = true;; first = false) {
      const Step step = in_.next_key(first);
      if (step != Step::Item) return step == Step::End;
      if (!key() || !in_.to_value() || !member()) return false;
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
    auto key = [&] {
      is_tag = in_.string() == "type";
      if (is_tag && tag_) return in_.fault("duplicate member \"type\"" + describe(in_.position()));
      slot = is_tag ? nullptr : claim(root_, kRootKeys, in_);
      return true;
    };
    auto member = [&] {
      if (is_tag) return take_tag();
      if (!slot) return skip();
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
    // A host takes some 100 to 200 bytes of a reply: room for them all at once.
    hosts_.reserve(std::min<std::size_t>(payload_size_ / 100, 1 << 14));
    return elements([&] {
      const std::size_t index = host_count_++;
      if (in_.token() == Token::BeginObject) return host(index);
      Value item;
      if (!read(item)) return false;
      if (!host_error_) host_error_ = wrong_type({"hosts", index}, "a host object", item);
      return true;
    });
  }

  bool host(std::size_t index) {
    for (Slot& slot : host_) slot.present = slot.repeated = false;
    Slot* slot = nullptr;
    auto key = [&] {
      slot = claim(host_, kHostKeys, in_);
      return true;
    };
    if (!members(key, [&] { return slot ? read(slot->value) : skip(); })) return false;
    if (host_error_) return true;  // the hosts before decide
    host_error_ = decode_host(host_, index, in_.position(), hosts_.emplace_back());
    if (host_error_) hosts_.pop_back();
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
  Fault repeated_among(const std::array<std::size_t, M>& fields) {
    return repeated(root_, kRootKeys, fields, FieldName{});
  }

  Fault counter(std::size_t field, std::uint64_t& target) {
    return integer(root_[field], FieldName{kRootKeys[field]}, root_end_, target);
  }

  Decoded<Reply> hosts_reply() {
    if (auto repeat = repeated_among(std::array<std::size_t, 1>{kHosts})) return fail(*repeat);
    const Slot& slot = root_[kHosts];
    if (!slot.present) return fail(missing(FieldName{"hosts"}, root_end_));
    if (slot.value.kind != Value::Kind::Array) {
      return fail(wrong_type(FieldName{"hosts"}, "an array of hosts", slot.value));
    }
    if (host_error_) return fail(std::move(*host_error_));
    return Reply{Reply::Hosts{std::move(hosts_)}};
  }

  Decoded<Reply> progress_reply() {
    TransferCounters c;
    auto fault = first_fault(
        [&] {
          return repeated_among(
              std::array<std::size_t, 4>{kFiles, kTotalFiles, kBytes, kTotalBytes});
        },
        [&] { return counter(kFiles, c.files); },
        [&] { return counter(kTotalFiles, c.total_files); },
        [&] { return counter(kBytes, c.bytes); },
        [&] { return counter(kTotalBytes, c.total_bytes); });
    if (fault) return fail(std::move(*fault));
    return Reply{Reply::Progress{c}};
  }

  Decoded<Reply> transfer_done_reply() {
    TransferSummary s;
    auto fault = first_fault(
        [&] {
          return repeated_among(
              std::array<std::size_t, 5>{kFiles, kBytes, kSkipped, kFailed, kFailures});
        },
        [&] { return counter(kFiles, s.files); }, [&] { return counter(kBytes, s.bytes); },
        [&] { return counter(kSkipped, s.skipped); }, [&] { return counter(kFailed, s.failed); },
        [&] {
          return texts(root_[kFailures], failure_items_, FieldName{"failures"}, root_end_,
                       s.failures);
        });
    if (fault) return fail(std::move(*fault));
    return Reply{Reply::TransferDone{std::move(s)}};
  }

  Decoded<Reply> exit_reply() {
    Reply::Exit exit;
    auto fault =
        first_fault([&] { return repeated_among(std::array<std::size_t, 1>{kCode}); },
                    [&] { return integer(root_[kCode], FieldName{"code"}, root_end_, exit.code); });
    if (fault) return fail(std::move(*fault));
    return Reply{exit};
  }

  Decoded<Reply> error_reply() {
    Reply::Error error{ErrorCode::ConnectFailed, {}};
    auto fault = first_fault(
        [&] {
          return repeated_among(std::array<std::size_t, 2>{kCode, kMessage});
        },
        [&] { return code_word(root_[kCode], FieldName{"code"}, root_end_, error.code); },
        [&] { return text(root_[kMessage], FieldName{"message"}, root_end_, error.message); });
    if (fault) return fail(std::move(*fault));
    return Reply{std::move(error)};
  }

  JsonReader in_;
  std::size_t payload_size_;
  std::optional<Tag> tag_;
  RootSlots root_;
  TextPosition root_end_;
  HostSlots host_;
  std::size_t host_count_ = 0;  // hosts begun, including ones of the wrong type
  std::vector<HostInfo> hosts_;
  std::optional<std::string> host_error_;
  std::vector<Value> failure_items_;
};

}  // namespace

Result<Reply, std::string> decode_reply(std::string_view payload) {
  // JSON text carries no byte order mark.
  if (payload.starts_with("\xEF\xBB\xBF"))
    return fail(std::string("unexpected byte order mark at line 1, column 1"));
  return ReplyDecoder(payload).decode();
}

}  // namespace sorvane
