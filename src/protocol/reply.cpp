#include "protocol/reply.h"

#include <algorithm>
#include <array>
#include <concepts>
#include <limits>
#include <utility>

#include "protocol/json_reader.h"

namespace sorvane {
namespace {

enum class Tag { Hosts, Progress, TransferDone, Exit, Activated, Error };
constexpr std::array<std::string_view, 6> TAGS = {"hosts", "progress",  "transfer_done",
                                                  "exit",  "activated", "error"};

// A field's name as descriptions give it ("code", "failures[0]",
// "hosts[3].port"), put together only when a fault is described.
struct FieldName {
  std::string_view list;  // of an element, with its index
  std::size_t index = 0;
  std::string_view key;  // of a member

  std::string text() const {
    if (list.empty()) return std::string(key);
    std::string name = std::string(list) + "[" + std::to_string(index) + "]";
    return key.empty() ? name : name + "." + std::string(key);
  }
};

// The value readers read the value at `in` into `target`. A value of the
// wrong kind is still read through, and leaves its description in `fault`
// unless a fault is there already; false means malformed text.

bool wrong_type(JsonReader& in, const FieldName& name, std::string_view expected,
                std::string& fault) {
  const std::size_t at = in.offset();
  std::string found = in.describe_value();
  if (!in.skip_value()) return false;
  if (fault.empty()) {
    fault = "invalid type for \"" + name.text() + "\": expected " + std::string(expected) +
            ", found " + found + in.where(at);
  }
  return true;
}

bool read_value(JsonReader& in, std::string& target, const FieldName& name, std::string& fault) {
  if (in.peek() != '"') return wrong_type(in, name, "a string", fault);
  std::string_view value;
  if (!in.string(value)) return false;
  target = value;
  return true;
}

bool read_value(JsonReader& in, std::optional<std::string>& target, const FieldName& name,
                std::string& fault) {
  if (in.peek() == 'n') return in.skip_value();  // null, or malformed
  if (in.peek() != '"') return wrong_type(in, name, "a string or null", fault);
  return read_value(in, target.emplace(), name, fault);
}

// Only numbers written without fraction or exponent, within T's range.
template <std::integral T>
bool read_value(JsonReader& in, T& target, const FieldName& name, std::string& fault) {
  const char first = in.peek();
  if (first != '-' && (first < '0' || first > '9')) {
    return wrong_type(in, name, "an integer", fault);
  }
  const std::size_t at = in.offset();
  JsonNumber number;
  if (!in.number(number)) return false;
  const auto negative = static_cast<std::int64_t>(0 - number.magnitude);
  if (number.kind == JsonNumber::Kind::Unsigned && std::in_range<T>(number.magnitude)) {
    target = static_cast<T>(number.magnitude);
  } else if (number.kind == JsonNumber::Kind::Negative && std::in_range<T>(negative)) {
    target = static_cast<T>(negative);
  } else if (fault.empty()) {
    const bool whole = number.literal.find_first_of(".eE") == std::string_view::npos;
    fault = "invalid value for \"" + name.text() + "\": " + std::string(number.literal) +
            (whole ? " is out of range " + std::to_string(std::numeric_limits<T>::min()) + " to " +
                         std::to_string(std::numeric_limits<T>::max())
                   : " is not an integer") +
            in.where(at);
  }
  return true;
}

bool read_value(JsonReader& in, std::vector<std::string>& target, const FieldName& name,
                std::string& fault) {
  if (in.peek() != '[') return wrong_type(in, name, "an array of strings", fault);
  return in.array([&] {
    const FieldName element{name.key, target.size(), {}};
    return read_value(in, target.emplace_back(), element, fault);
  });
}

bool read_value(JsonReader& in, ErrorCode& target, const FieldName& name, std::string& fault) {
  const std::size_t at = in.offset();
  std::string word;
  const bool read = read_value(in, word, name, fault);
  const auto code = parse_code_word(word);
  if (code) target = *code;
  if (!code && fault.empty()) fault = "unknown error code " + quoted_excerpt(word) + in.where(at);
  return read;
}

// "duplicate field "hosts[0].id" at line 1, column 30".
std::string field_fault(std::string_view fault, const FieldName& name, std::string_view text,
                        std::size_t at) {
  return std::string(fault) + " \"" + name.text() + "\"" + where(text, at);
}

// The members of one object, noted as they are read: a field is decoded from
// where it stands once the caller knows that it counts, its fault left in `fault`.
class Members {
 public:
  Members(std::string_view text, std::size_t start, std::string& fault)
      : text_(text), start_(start), fault_(fault) {}

  void note(std::string_view key, std::size_t key_at, std::size_t value_at) {
    members_.push_back({std::string(key), key_at, value_at});
  }

  // Reads the required field `key` with read(in, target, name, fault) where
  // it stands; read_value() unless told otherwise.
  template <class Target, class Read>
  bool decode(std::string_view key, Target& target, Read read) {
    const FieldName name{{}, 0, key};
    const Member* first = nullptr;
    for (const Member& member : members_) {
      if (member.key != key) continue;
      if (first != nullptr) return fail(field_fault("duplicate field", name, text_, member.key_at));
      first = &member;
    }
    if (first == nullptr) return fail(field_fault("missing field", name, text_, start_));
    JsonReader in(text_, first->value_at);
    read(in, target, name, fault_);  // the text was checked already
    return fault_.empty();
  }
  template <class Target>
  bool decode(std::string_view key, Target& target) {
    return decode(key, target,
                  [](JsonReader& in, Target& into, const FieldName& name, std::string& fault) {
                    return read_value(in, into, name, fault);
                  });
  }

 private:
  struct Member {
    std::string key;
    std::size_t key_at;
    std::size_t value_at;
  };

  bool fail(std::string fault) {
    fault_ = std::move(fault);
    return false;
  }

  std::string_view text_;
  std::size_t start_;  // of the object: a missing field is reported there
  std::string& fault_;
  std::vector<Member> members_;
};

// The payload is read once. The tag is checked as soon as it is met; other
// members are noted, and decoded once the tag says which ones count. Hosts,
// the long part of a reply, are decoded as they are read, whatever the tag.
class ReplyDecoder {
 public:
  explicit ReplyDecoder(std::string_view payload) : payload_(payload), in_(payload) {}

  Result<Reply, std::string> decode() {
    const std::size_t start = in_.offset();
    if (in_.peek() != '{') {
      std::string found =
          "expected a reply object, found " + in_.describe_value() + in_.where(start);
      return fail(in_.skip_value() ? found : in_.error());
    }
    auto member = [&](std::string_view key, std::size_t at) { return this->member(key, at); };
    if (!in_.object(member) || !in_.at_end()) return fail(fault_.empty() ? in_.error() : fault_);
    if (!tag_) return fail("missing member \"type\"" + in_.where(start));
    if (!reply()) return fail(std::move(fault_));
    return std::move(reply_);
  }

 private:
  bool member(std::string_view key, std::size_t at) {
    if (key == "type") return take_tag(at);
    root_.note(key, at, in_.offset());
    if (key != "hosts" || in_.peek() != '[' || hosts_read_) return in_.skip_value();
    hosts_read_ = true;
    return host_list();
  }

  bool take_tag(std::size_t key_at) {
    if (tag_) return in_.fail("duplicate member \"type\"", key_at);
    const std::size_t at = in_.offset();
    if (in_.peek() != '"') {
      wrong_type(in_, {{}, 0, "type"}, "a string", fault_);  // a failure the moment it is read
      return false;
    }
    std::string_view tag;
    if (!in_.string(tag)) return false;
    const auto* known = std::find(TAGS.begin(), TAGS.end(), tag);
    if (known == TAGS.end()) return in_.fail("unknown reply type " + quoted_excerpt(tag), at);
    tag_ = static_cast<Tag>(known - TAGS.begin());
    return true;
  }

  bool host_list() {
    // A host takes some 100 to 200 bytes of a reply: room for them all at once.
    hosts_.reserve(std::min<std::size_t>(payload_.size() / 100, 1 << 14));
    std::size_t index = 0;
    return in_.array([&] {
      // After the first faulty host only the text is checked: that one decides.
      if (!host_fault_.empty()) return in_.skip_value();
      const FieldName name{"hosts", index++, {}};
      if (in_.peek() != '{') return wrong_type(in_, name, "a host object", host_fault_);
      const bool read = host_object(name.index, hosts_.emplace_back());
      if (!host_fault_.empty()) hosts_.pop_back();
      return read;
    });
  }

  // One host, decoded as its members come. Of several faults the first
  // field in HOST_FIELDS with one is described, and for one field a repeated
  // key before a bad value, whatever the order of the members.
  bool host_object(std::size_t index, HostInfo& host) {
    const std::size_t start = in_.offset();
    std::array<bool, HOST_FIELDS.size()> seen{};
    std::array<bool, HOST_FIELDS.size()> repeated{};
    std::size_t faulty = HOST_FIELDS.size();  // the field that `fault` is about
    std::string fault;
    const bool read = in_.object([&](std::string_view key, std::size_t key_at) {
      const auto* found = std::find_if(HOST_FIELDS.begin(), HOST_FIELDS.end(),
                                       [key](const HostField& field) { return field.key == key; });
      if (found == HOST_FIELDS.end()) return in_.skip_value();
      const auto field = static_cast<std::size_t>(found - HOST_FIELDS.begin());
      const FieldName name{"hosts", index, found->key};
      if (seen[field]) {
        if (!repeated[field] && field <= faulty) {
          faulty = field;
          fault = field_fault("duplicate field", name, payload_, key_at);
        }
        repeated[field] = true;
        return in_.skip_value();
      }
      seen[field] = true;
      std::string bad_value;
      const bool value_read =
          std::visit([&](auto member) { return read_value(in_, host.*member, name, bad_value); },
                     found->member);
      if (!bad_value.empty() && field < faulty) {
        faulty = field;
        fault = std::move(bad_value);
      }
      return value_read;
    });
    for (std::size_t field = 0; field < faulty; ++field) {
      using Optional = std::optional<std::string> HostInfo::*;
      if (!seen[field] && !std::holds_alternative<Optional>(HOST_FIELDS[field].member)) {
        faulty = field;
        fault =
            field_fault("missing field", {"hosts", index, HOST_FIELDS[field].key}, payload_, start);
      }
    }
    host_fault_ = std::move(fault);
    return read;
  }

  // After the whole payload was read: the fields of the tag's reply type.
  bool reply() {
    switch (*tag_) {
      case Tag::Hosts: {
        // The hosts were decoded as they came: the list is left to check.
        auto list = [&](JsonReader& in, auto& target, auto& name, std::string& fault) {
          if (in.peek() != '[') return wrong_type(in, name, "an array of hosts", fault);
          fault = std::move(host_fault_);
          target = std::move(hosts_);
          return true;
        };
        return root_.decode("hosts", reply_.value.emplace<Reply::Hosts>().hosts, list);
      }
      case Tag::Progress: {
        TransferCounters& c = reply_.value.emplace<Reply::Progress>().counters;
        return root_.decode("files", c.files) && root_.decode("total_files", c.total_files) &&
               root_.decode("bytes", c.bytes) && root_.decode("total_bytes", c.total_bytes);
      }
      case Tag::TransferDone: {
        TransferSummary& s = reply_.value.emplace<Reply::TransferDone>().summary;
        return root_.decode("files", s.files) && root_.decode("bytes", s.bytes) &&
               root_.decode("skipped", s.skipped) && root_.decode("failed", s.failed) &&
               root_.decode("failures", s.failures);
      }
      case Tag::Exit:
        return root_.decode("code", reply_.value.emplace<Reply::Exit>().code);
      case Tag::Activated:
        reply_.value.emplace<Reply::Activated>();
        return true;
      case Tag::Error: {
        auto& error =
            reply_.value.emplace<Reply::Error>(Reply::Error{ErrorCode::ConnectFailed, {}});
        return root_.decode("code", error.code) && root_.decode("message", error.message);
      }
    }
    return false;
  }

  std::string_view payload_;
  JsonReader in_;
  std::optional<Tag> tag_;
  std::string fault_;
  Members root_{payload_, in_.offset(), fault_};
  bool hosts_read_ = false;
  std::vector<HostInfo> hosts_;
  std::string host_fault_;  // the first faulty host's
  Reply reply_;
};

}  // namespace

Result<Reply, std::string> decode_reply(std::string_view payload) {
  // JSON text carries no byte order mark.
  if (payload.starts_with("\xEF\xBB\xBF")) {
    return fail(std::string("unexpected byte order mark at line 1, column 1"));
  }
  return ReplyDecoder(payload).decode();
}

}  // namespace sorvane
