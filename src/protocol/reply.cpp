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

constexpr std::size_t kAbsent = std::string_view::npos;

// A member's meaning depends only on its key and depth, never on the tag
// ("hosts" is a host list whatever the tag turns out to be), so each known
// member is noted in a slot as it arrives and the tag decides at the end which
// slots count. A slot keeps what the common case needs; anything else, and
// every description, reads the value again from where it starts.
struct Slot {
  std::size_t start = kAbsent;   // the value's first token
  std::size_t repeat = kAbsent;  // the last byte of the first repeated key
  Token token = Token::Null;
  std::string_view plain;  // a string, unless escaped
  bool escaped = false;
  std::uint64_t magnitude = 0;
};

std::string quoted_excerpt(std::string_view text) {
  constexpr std::size_t kMax = 40;
  if (text.size() <= kMax) return json_quote(text);
  std::size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return json_quote(text.substr(0, cut)) + "...";
}

// The value whose first token is current, as descriptions name it.
std::string describe_value(const JsonReader& in) {
  switch (in.token()) {
    case Token::True:
      return "true";
    case Token::False:
      return "false";
    case Token::Unsigned:
      return std::to_string(in.magnitude());
    case Token::Negative:
      return std::to_string(static_cast<std::int64_t>(0 - in.magnitude()));
    case Token::Float:
      return std::string(in.literal());
    case Token::String:
      return "string " + quoted_excerpt(in.string());
    case Token::BeginArray:
      return "an array";
    case Token::BeginObject:
      return "an object";
    default:
      return "null";
  }
}

enum class Tag { Hosts, Progress, TransferDone, Exit, Activated, Error };
constexpr std::array<std::string_view, 6> kTags = {"hosts", "progress",  "transfer_done",
                                                   "exit",  "activated", "error"};

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
using Slots = std::array<Slot, N>;

// The slot that the value of the current key fills: none for unknown keys
// and for repeats, which only count as repeats.
template <std::size_t N>
Slot* claim(Slots<N>& slots, const std::array<std::string_view, N>& keys, std::string_view key,
            std::size_t key_end) {
  for (std::size_t i = 0; i < N; ++i) {
    if (keys[i].size() != key.size() || keys[i][0] != key[0] || keys[i] != key) continue;
    Slot& slot = slots[i];
    if (slot.start == kAbsent) return &slot;
    slot.repeat = std::min(slot.repeat, key_end);
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

template <class T>
using Decoded = Result<T, std::string>;

// The reader walks the payload once. The tag is checked as soon as it is
// met, every other member of the reply object is noted in a slot, and each
// host is decoded as it closes; the fields of the tag's type are checked at
// the end. A check that fails leaves its description in fault_.
class ReplyDecoder {
 public:
  explicit ReplyDecoder(std::string_view payload) : payload_(payload), in_(payload) {}

  Decoded<Reply> decode() {
    if (in_.broken_byte_order_mark()) return fail(in_.error());
    in_.next();
    if (!in_.starts_value()) return fail(in_.error());
    if (in_.token() != Token::BeginObject) {
      return fail("expected a reply object, found " + found(in_));
    }
    if (!reply_object() || !in_.at_end()) return fail(in_.error());
    if (!reply()) return fail(std::move(fault_));
    return std::move(reply_);
  }

 private:
  std::string where(std::size_t offset) const { return describe(locate(payload_, offset)); }
  std::string found(const JsonReader& in) const {
    return describe_value(in) + where(in.last_read());
  }

  // The value noted in `slot`, read again: its first token is current.
  const JsonReader& value(const Slot& slot) {
    again_ = JsonReader(payload_, slot.start);
    again_.next();
    return again_;
  }

  void note(Slot& slot) const {
    slot.start = in_.offset();
    slot.token = in_.token();
    slot.escaped = in_.escaped();
    if (!slot.escaped) slot.plain = in_.string();
    slot.magnitude = in_.magnitude();
  }

  // Calls `item()` for each member of the object, or element of the array,
  // whose opening token is current: with a member's key current, or an
  // element's first token.
  template <class Item>
  bool items(Item&& item) {
    const bool object = in_.token() == Token::BeginObject;
    for (bool first = true;; first = false) {
      const Step step = object ? in_.next_key(first) : in_.next_element(first);
      if (step != Step::Item) return step == Step::End;
      if (!item()) return false;
    }
  }

  bool reply_object() {
    auto member = [&] {
      if (in_.string() == "type") return take_tag();
      Slot* slot = claim(root_, kRootKeys, in_.string(), in_.last_read());
      if (!in_.to_value()) return false;
      if (!slot) return in_.skip_value();
      note(*slot);
      if (in_.token() != Token::BeginArray) return in_.skip_value();
      if (slot == &root_[kHosts]) return host_list();
      if (slot != &root_[kFailures]) return in_.skip_value();
      return items([&] {
        note(failures_.emplace_back());
        return in_.skip_value();
      });
    };
    if (!items(member)) return false;
    root_end_ = in_.last_read();
    return tag_ || in_.fault("missing member \"type\"" + where(root_end_));
  }

  bool take_tag() {
    if (tag_) return in_.fault("duplicate member \"type\"" + where(in_.last_read()));
    if (!in_.to_value()) return false;
    if (in_.token() != Token::String) {
      return in_.fault("invalid type for \"type\": expected a string, found " + found(in_));
    }
    const auto* tag = std::find(kTags.begin(), kTags.end(), in_.string());
    if (tag != kTags.end()) tag_ = static_cast<Tag>(tag - kTags.begin());
    return tag_ || in_.fault("unknown reply type " + quoted_excerpt(in_.string()) +
                             ", expected one of \"hosts\", \"progress\", \"transfer_done\", "
                             "\"exit\", \"activated\", \"error\"" +
                             where(in_.last_read()));
  }

  bool host_list() {
    // A host takes some 100 to 200 bytes of a reply: room for them all at once.
    hosts_.reserve(std::min<std::size_t>(payload_.size() / 100, 1 << 14));
    std::size_t index = 0;
    return items([&] {
      if (in_.token() == Token::BeginObject) return host(index++);
      if (!host_error_) host_error_ = wrong_type({"hosts", index}, "a host object", in_);
      ++index;
      return in_.skip_value();
    });
  }

  bool host(std::size_t index) {
    Slots<kHostKeys.size()> slots;
    auto member = [&] {
      Slot* slot = claim(slots, kHostKeys, in_.string(), in_.last_read());
      if (!in_.to_value()) return false;
      if (slot) note(*slot);
      return in_.skip_value();
    };
    if (!compact_host(slots) && !items(member)) return false;
    if (host_error_) return true;  // the hosts before decide
    HostInfo& host = hosts_.emplace_back();
    auto name = [&](std::size_t field) { return FieldName{"hosts", index, kHostKeys[field]}; };
    const std::size_t end = in_.last_read();
    if (!unrepeated(slots, kHostKeys, FieldName{"hosts", index},
                    std::make_index_sequence<kHostKeys.size()>{}) ||
        !text(slots[kId], name(kId), end, host.id) ||
        !text(slots[kName], name(kName), end, host.name) ||
        !optional_text(slots[kGroup], name(kGroup), host.group) ||
        !text(slots[kUser], name(kUser), end, host.user) ||
        !text(slots[kHost], name(kHost), end, host.host) ||
        !integer(slots[kPort], name(kPort), end, host.port) ||
        !optional_text(slots[kOs], name(kOs), host.os)) {
      host_error_ = std::move(fault_);
      hosts_.pop_back();
    }
    return true;
  }

  // Hosts mostly come without spaces, with plain strings and small numbers:
  // those are noted straight from the bytes. Anything else is left to the
  // reader, token by token, from the '{' on.
  bool compact_host(Slots<kHostKeys.size()>& slots) {
    const std::string_view p = payload_;
    std::size_t at = in_.offset() + 1;
    std::size_t quoted_from = 0;  // the last string or number, as the reader keeps it
    auto plain_string = [&](std::string_view& out) {
      if (at >= p.size() || p[at] != '"') return false;
      quoted_from = at;
      const std::size_t close = json_detail::plain_run_end(p, at + 1);
      if (close == p.size() || p[close] != '"') return false;
      out = std::string_view(p.data() + at + 1, close - at - 1);
      at = close + 1;
      return true;
    };
    auto small_number = [&](std::uint64_t& out) {
      const std::size_t first = at;
      for (out = 0; at < p.size() && p[at] >= '0' && p[at] <= '9'; ++at) {
        out = out * 10 + static_cast<std::uint64_t>(p[at] - '0');
      }
      if (at == first || at - first >= 20 || (p[first] == '0' && at - first > 1)) {
        at = first;
        return false;
      }
      quoted_from = first;
      return true;
    };
    Slot unknown;  // the value of a key that fills no slot
    do {
      std::string_view key;
      if (!plain_string(key) || at == p.size() || p[at] != ':') return (slots = {}, false);
      Slot* value = claim(slots, kHostKeys, key, at - 1);
      if (value == nullptr) value = &unknown;
      value->start = ++at;
      if (plain_string(value->plain)) {
        value->token = Token::String;
      } else if (small_number(value->magnitude)) {
        value->token = Token::Unsigned;
      } else if (p.substr(at, 4) == "null") {
        value->token = Token::Null;
        at += 4;
      } else {
        return (slots = {}, false);
      }
      if (at == p.size() || (p[at] != ',' && p[at] != '}')) return (slots = {}, false);
    } while (p[at++] == ',');
    in_.resume_after_object(at - 1, quoted_from);
    return true;
  }

  // The checks of fields, from slots to typed values.

  bool fault(std::string description) {
    fault_ = std::move(description);
    return false;
  }

  bool missing(const FieldName& name, std::size_t owner_end) {
    return fault("missing field \"" + name.text() + "\"" + where(owner_end));
  }

  std::string wrong_type(const FieldName& name, std::string_view expected,
                         const JsonReader& value) const {
    return "invalid type for \"" + name.text() + "\": expected " + std::string(expected) +
           ", found " + found(value);
  }

  // Targets start empty: appending is the cheapest copy of a plain string.
  bool text(const Slot& slot, const FieldName& name, std::size_t owner_end, std::string& target) {
    if (slot.start == kAbsent) return missing(name, owner_end);
    if (slot.token == Token::String && !slot.escaped) {
      target.append(slot.plain);
      return true;
    }
    const JsonReader& found = value(slot);
    if (found.token() != Token::String) return fault(wrong_type(name, "a string", found));
    target = found.string();
    return true;
  }

  bool optional_text(const Slot& slot, const FieldName& name, std::optional<std::string>& target) {
    if (slot.start == kAbsent || slot.token == Token::Null) return true;
    if (slot.token == Token::String && !slot.escaped) {
      target.emplace().append(slot.plain);
      return true;
    }
    const JsonReader& found = value(slot);
    if (found.token() != Token::String) return fault(wrong_type(name, "a string or null", found));
    target.emplace(found.string());
    return true;
  }

  // Only numbers written without fraction or exponent, within T's range.
  template <class T>
  bool integer(const Slot& slot, const FieldName& name, std::size_t owner_end, T& target) {
    if (slot.start == kAbsent) return missing(name, owner_end);
    if (slot.token == Token::Unsigned && std::in_range<T>(slot.magnitude)) {
      target = static_cast<T>(slot.magnitude);
      return true;
    }
    const JsonReader& number = value(slot);
    const auto negative = static_cast<std::int64_t>(0 - number.magnitude());
    bool in_range = false;  // an unsigned number here is out of range
    switch (number.token()) {
      case Token::Unsigned:
        break;
      case Token::Negative:
        in_range = std::in_range<T>(negative);
        break;
      case Token::Float:
        // Integers too large for 64 bits are read as floats.
        if (number.literal().find_first_of(".eE") == std::string_view::npos) break;
        return fault("invalid value for \"" + name.text() + "\": " + std::string(number.literal()) +
                     " is not an integer" + where(number.last_read()));
      default:
        return fault(wrong_type(name, "an integer", number));
    }
    if (!in_range) {
      return fault("invalid value for \"" + name.text() + "\": " + describe_value(number) +
                   " is out of range " + std::to_string(std::numeric_limits<T>::min()) + " to " +
                   std::to_string(std::numeric_limits<T>::max()) + where(number.last_read()));
    }
    target = static_cast<T>(negative);
    return true;
  }

  // None of `fields` repeated; else the first repeat in the payload.
  template <std::size_t N, std::size_t... Fields>
  bool unrepeated(const Slots<N>& slots, const std::array<std::string_view, N>& keys,
                  const FieldName& object, std::index_sequence<Fields...> /*fields*/) {
    std::size_t first = kAbsent;
    std::size_t field = 0;
    auto consider = [&](std::size_t i) {
      if (slots[i].repeat < first) first = slots[field = i].repeat;
    };
    (consider(Fields), ...);
    if (first == kAbsent) return true;
    const FieldName name = object.key.empty() ? FieldName{keys[field]}
                                              : FieldName{object.key, object.index, keys[field]};
    return fault("duplicate field \"" + name.text() + "\"" + where(first));
  }

  template <std::size_t... Fields>
  bool root_unrepeated() {
    return unrepeated(root_, kRootKeys, FieldName{}, std::index_sequence<Fields...>{});
  }

  bool counter(std::size_t field, std::uint64_t& target) {
    return integer(root_[field], FieldName{kRootKeys[field]}, root_end_, target);
  }

  // After the whole payload was read, tag included: reply_ from the slots.
  bool reply() {
    switch (*tag_) {
      case Tag::Hosts:
        return hosts_reply();
      case Tag::Progress: {
        TransferCounters& c = reply_.value.emplace<Reply::Progress>().counters;
        return root_unrepeated<kFiles, kTotalFiles, kBytes, kTotalBytes>() &&
               counter(kFiles, c.files) && counter(kTotalFiles, c.total_files) &&
               counter(kBytes, c.bytes) && counter(kTotalBytes, c.total_bytes);
      }
      case Tag::TransferDone: {
        TransferSummary& s = reply_.value.emplace<Reply::TransferDone>().summary;
        return root_unrepeated<kFiles, kBytes, kSkipped, kFailed, kFailures>() &&
               counter(kFiles, s.files) && counter(kBytes, s.bytes) &&
               counter(kSkipped, s.skipped) && counter(kFailed, s.failed) && failures(s.failures);
      }
      case Tag::Exit:
        return root_unrepeated<kCode>() && integer(root_[kCode], FieldName{"code"}, root_end_,
                                                   reply_.value.emplace<Reply::Exit>().code);
      case Tag::Activated:
        reply_.value.emplace<Reply::Activated>();
        return true;
      case Tag::Error: {
        auto& error =
            reply_.value.emplace<Reply::Error>(Reply::Error{ErrorCode::ConnectFailed, {}});
        return root_unrepeated<kCode, kMessage>() && code_word(error.code) &&
               text(root_[kMessage], FieldName{"message"}, root_end_, error.message);
      }
    }
    return fault("unknown reply type");
  }

  bool hosts_reply() {
    const Slot& slot = root_[kHosts];
    if (!root_unrepeated<kHosts>()) return false;
    if (slot.start == kAbsent) return missing(FieldName{"hosts"}, root_end_);
    if (slot.token != Token::BeginArray) {
      return fault(wrong_type(FieldName{"hosts"}, "an array of hosts", value(slot)));
    }
    if (host_error_) return fault(std::move(*host_error_));
    reply_.value.emplace<Reply::Hosts>().hosts = std::move(hosts_);
    return true;
  }

  bool failures(std::vector<std::string>& target) {
    const Slot& slot = root_[kFailures];
    if (slot.start == kAbsent) return missing(FieldName{"failures"}, root_end_);
    if (slot.token != Token::BeginArray) {
      return fault(wrong_type(FieldName{"failures"}, "an array of strings", value(slot)));
    }
    target.resize(failures_.size());
    for (std::size_t i = 0; i < failures_.size(); ++i) {
      if (!text(failures_[i], FieldName{"failures", i}, root_end_, target[i])) return false;
    }
    return true;
  }

  bool code_word(ErrorCode& target) {
    const Slot& slot = root_[kCode];
    std::string word;
    if (!text(slot, FieldName{"code"}, root_end_, word)) return false;
    auto code = parse_code_word(word);
    if (!code)
      return fault("unknown error code " + quoted_excerpt(word) + where(value(slot).last_read()));
    target = *code;
    return true;
  }

  std::string_view payload_;
  JsonReader in_;
  std::optional<Tag> tag_;
  Slots<kRootKeys.size()> root_;
  std::size_t root_end_ = 0;
  std::vector<HostInfo> hosts_;
  std::optional<std::string> host_error_;
  std::vector<Slot> failures_;
  std::string fault_;
  JsonReader again_{payload_};
  Reply reply_;
};

}  // namespace

Result<Reply, std::string> decode_reply(std::string_view payload) {
  // JSON text carries no byte order mark.
  if (payload.starts_with("\xEF\xBB\xBF"))
    return fail(std::string("unexpected byte order mark at line 1, column 1"));
  return ReplyDecoder(payload).decode();
}

}  // namespace sorvane
