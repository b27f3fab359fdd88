#include "protocol/reply.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <utility>

#include "protocol/json_reader.h"

namespace sorvane {
namespace {

enum class Tag { Hosts, Progress, TransferDone, Exit, Activated, Error };
constexpr std::array<std::string_view, 6> TAGS = {"hosts", "progress",  "transfer_done",
                                                  "exit",  "activated", "error"};

enum HostField { Id, Name, Group, User, Host, Port, Os, HostFieldCount };
// The host keys as the application writes them, each to be taken whole.
constexpr std::array<std::string_view, HostFieldCount> HOST_KEY_TOKENS = {
    R"("id":)", R"("name":)", R"("group":)", R"("user":)", R"("host":)", R"("port":)", R"("os":)"};
constexpr unsigned OPTIONAL_HOST_FIELDS = (1U << Group) | (1U << Os);
constexpr std::array<std::string HostInfo::*, HostFieldCount> TEXT_MEMBERS = {
    &HostInfo::id, &HostInfo::name, nullptr, &HostInfo::user, &HostInfo::host, nullptr, nullptr};

// The value readers read the value at `in` into `target`. A value of the
// wrong kind is still read through, and leaves its description in `fault`
// unless a fault is there already; false means malformed text. `name` is
// the field's as descriptions give it: "code", "hosts[3].port".

bool wrong_type(JsonReader& in, const std::string& name, std::string_view expected,
                std::string& fault) {
  const std::size_t at = in.offset();
  std::string found = in.describe_value();
  if (!in.skip_value()) return false;
  if (fault.empty()) {
    fault = "invalid type for \"" + name + "\": expected " + std::string(expected) + ", found " +
            found + in.where(at);
  }
  return true;
}

bool read_text(JsonReader& in, std::string& target, const std::string& name, std::string& fault) {
  if (in.peek() != '"') return wrong_type(in, name, "a string", fault);
  std::string_view value;
  if (!in.string(value)) return false;
  target = value;
  return true;
}

bool read_optional_text(JsonReader& in, std::optional<std::string>& target, const std::string& name,
                        std::string& fault) {
  if (in.peek() == 'n') return in.skip_value();  // null, or malformed
  if (in.peek() != '"') return wrong_type(in, name, "a string or null", fault);
  return read_text(in, target.emplace(), name, fault);
}

// Only numbers written without fraction or exponent, within T's range.
template <class T>
bool read_integer(JsonReader& in, T& target, const std::string& name, std::string& fault) {
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
    fault = "invalid value for \"" + name + "\": " + std::string(number.literal) +
            (whole ? " is out of range " + std::to_string(std::numeric_limits<T>::min()) + " to " +
                         std::to_string(std::numeric_limits<T>::max())
                   : " is not an integer") +
            in.where(at);
  }
  return true;
}

bool read_strings(JsonReader& in, std::vector<std::string>& target, const std::string& name,
                  std::string& fault) {
  if (in.peek() != '[') return wrong_type(in, name, "an array of strings", fault);
  return in.array([&] {
    const std::string element = name + "[" + std::to_string(target.size()) + "]";
    return read_text(in, target.emplace_back(), element, fault);
  });
}

bool read_code_word(JsonReader& in, ErrorCode& target, const std::string& name,
                    std::string& fault) {
  const std::size_t at = in.offset();
  std::string word;
  const bool read = read_text(in, word, name, fault);
  const auto code = parse_code_word(word);
  if (code) target = *code;
  if (!code && fault.empty()) fault = "unknown error code " + quoted_excerpt(word) + in.where(at);
  return read;
}

// The members of one object, noted as they are read: a field is decoded from
// where it stands once the caller knows that it counts, its fault left in `fault`.
class Members {
 public:
  Members(std::string_view text, std::size_t start, std::string prefix, std::string& fault)
      : text_(text), start_(start), prefix_(std::move(prefix)), fault_(fault) {}

  void note(std::string_view key, std::size_t key_at, std::size_t value_at) {
    members_.push_back({std::string(key), key_at, value_at});
  }

  // Reads the field `key` with read(in, target, name, fault) where it stands.
  template <class Target, class Read>
  bool decode(std::string_view key, Target& target, Read read, bool required = true) {
    const std::string name = prefix_ + std::string(key);
    auto fail = [&](std::string_view fault, std::size_t at) {
      fault_ = std::string(fault) + " \"" + name + "\"" + where(text_, at);
      return false;
    };
    const Member* first = nullptr;
    for (const Member& member : members_) {
      if (member.key != key) continue;
      if (first != nullptr) return fail("duplicate field", member.key_at);
      first = &member;
    }
    if (first == nullptr) return !required || fail("missing field", start_);
    JsonReader in(text_, first->value_at);
    read(in, target, name, fault_);  // the text was checked already
    return fault_.empty();
  }

 private:
  struct Member {
    std::string key;
    std::size_t key_at;
    std::size_t value_at;
  };

  std::string_view text_;
  std::size_t start_;   // of the object: a missing field is reported there
  std::string prefix_;  // of each field's name
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
      wrong_type(in_, "type", "a string", fault_);  // a failure the moment it is read
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
      auto name = [at = index++] { return "hosts[" + std::to_string(at) + "]"; };
      if (in_.peek() != '{') return wrong_type(in_, name(), "a host object", host_fault_);
      HostInfo& host = hosts_.emplace_back();
      if (compact_host(host)) return true;
      host = HostInfo{};
      const bool read = host_members(name(), host);
      if (!host_fault_.empty()) hosts_.pop_back();
      return read;
    });
  }

  bool host_members(const std::string& name, HostInfo& host) {
    Members fields(payload_, in_.offset(), name + ".", host_fault_);
    const bool read = in_.object([&](std::string_view key, std::size_t at) {
      fields.note(key, at, in_.offset());
      return in_.skip_value();
    });
    if (!read) return false;
    // A faulty field leaves its description in host_fault_.
    static_cast<void>(fields.decode("id", host.id, read_text) &&
                      fields.decode("name", host.name, read_text) &&
                      fields.decode("group", host.group, read_optional_text, false) &&
                      fields.decode("user", host.user, read_text) &&
                      fields.decode("host", host.host, read_text) &&
                      fields.decode("port", host.port, read_integer<std::uint16_t>) &&
                      fields.decode("os", host.os, read_optional_text, false));
    return true;
  }

  // Hosts mostly come as the application writes them: fields in their
  // order, no whitespace, no escape. Those are decoded straight from the
  // bytes; anything else is left to host_members(), from the '{' on.
  bool compact_host(HostInfo& host) {
    const std::string_view p = payload_;
    std::size_t at = in_.offset() + 1;
    unsigned seen = 0;
    char next = ',';
    for (int field = 0; field < HostFieldCount && next == ','; ++field) {
      if (!p.substr(at).starts_with(HOST_KEY_TOKENS[field])) continue;  // absent
      at += HOST_KEY_TOKENS[field].size();
      seen |= 1U << field;
      std::string_view value;
      if (field == Port) {
        const char* digits = p.data() + at;
        const auto [end, error] = std::from_chars(digits, p.data() + p.size(), host.port);
        if (error != std::errc() || (*digits == '0' && end - digits > 1)) return false;
        at += static_cast<std::size_t>(end - digits);
      } else if (!json_detail::plain_string(p, at, value)) {
        if ((field != Group && field != Os) || !p.substr(at).starts_with("null")) return false;
        at += 4;
      } else if (field == Group || field == Os) {
        (field == Group ? host.group : host.os).emplace().append(value);
      } else {
        (host.*TEXT_MEMBERS[field]).append(value);  // to an empty string: the cheapest copy
      }
      next = at < p.size() ? p[at++] : '\0';
    }
    if (next != '}' || (seen | OPTIONAL_HOST_FIELDS) != (1U << HostFieldCount) - 1) return false;
    in_.resume_at(at);
    return true;
  }

  // After the whole payload was read: the fields of the tag's reply type.
  bool reply() {
    const auto counter = read_integer<std::uint64_t>;
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
        return root_.decode("files", c.files, counter) &&
               root_.decode("total_files", c.total_files, counter) &&
               root_.decode("bytes", c.bytes, counter) &&
               root_.decode("total_bytes", c.total_bytes, counter);
      }
      case Tag::TransferDone: {
        TransferSummary& s = reply_.value.emplace<Reply::TransferDone>().summary;
        return root_.decode("files", s.files, counter) && root_.decode("bytes", s.bytes, counter) &&
               root_.decode("skipped", s.skipped, counter) &&
               root_.decode("failed", s.failed, counter) &&
               root_.decode("failures", s.failures, read_strings);
      }
      case Tag::Exit:
        return root_.decode("code", reply_.value.emplace<Reply::Exit>().code,
                            read_integer<std::int32_t>);
      case Tag::Activated:
        reply_.value.emplace<Reply::Activated>();
        return true;
      case Tag::Error: {
        auto& error =
            reply_.value.emplace<Reply::Error>(Reply::Error{ErrorCode::ConnectFailed, {}});
        return root_.decode("code", error.code, read_code_word) &&
               root_.decode("message", error.message, read_text);
      }
    }
    return false;
  }

  std::string_view payload_;
  JsonReader in_;
  std::optional<Tag> tag_;
  std::string fault_;
  Members root_{payload_, in_.offset(), "", fault_};
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
