#include "protocol/request.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>

namespace sorvane {
namespace {

constexpr std::string_view INVALID_PATH = "path contains invalid UTF-8 characters";

constexpr std::array<bool, 256> NEEDS_ESCAPE = [] {
  std::array<bool, 256> table{};
  for (unsigned char c = 0; c < 0x20; ++c) table[c] = true;
  table['"'] = true;
  table['\\'] = true;
  return table;
}();

bool needs_escape(unsigned char c) { return NEEDS_ESCAPE[c]; }

void append_escape(std::string& out, unsigned char c) {
  switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\b':
      out += "\\b";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\f':
      out += "\\f";
      break;
    case '\r':
      out += "\\r";
      break;
    default: {
      static constexpr char HEX[] = "0123456789abcdef";
      const char escaped[] = {'\\', 'u', '0', '0', HEX[c >> 4], HEX[c & 0x0F]};
      out.append(escaped, sizeof escaped);
    }
  }
}

// Appends `,"key":value` for one field of the request object.
class FieldWriter {
 public:
  explicit FieldWriter(std::string& out) : out_(out) {}

  void text(std::string_view key, std::string_view value) {
    begin(key);
    append_json_string(out_, value);
  }

  void optional_text(std::string_view key, const std::optional<std::string>& value) {
    begin(key);
    if (value) {
      append_json_string(out_, *value);
    } else {
      out_ += "null";
    }
  }

  bool path(std::string_view key, const NativePath& value) {
    auto utf8 = native_to_utf8(value);
    if (!utf8) return false;
    text(key, *utf8);
    return true;
  }

 private:
  void begin(std::string_view key) {
    out_ += ',';
    append_json_string(out_, key);
    out_ += ':';
  }

  std::string& out_;
};

// Writes the member's tag and fields; false when a local path is not Unicode.
bool write_member(FieldWriter& fields, const Request::List& list) {
  fields.optional_text("query", list.query);
  return true;
}

bool write_member(FieldWriter& fields, const Request::Exec& exec) {
  fields.text("host", exec.host);
  fields.text("command", exec.command);
  return true;
}

bool write_member(FieldWriter& fields, const Request::Upload& upload) {
  fields.text("host", upload.host);
  if (!fields.path("source", upload.source)) return false;
  fields.text("destination", upload.destination);
  return true;
}

bool write_member(FieldWriter& fields, const Request::Download& download) {
  fields.text("host", download.host);
  fields.text("source", download.source);
  return fields.path("destination", download.destination);
}

bool write_member(FieldWriter&, const Request::Activate&) { return true; }

template <class Member>
constexpr std::string_view tag_of() {
  if constexpr (std::is_same_v<Member, Request::List>) return "list";
  if constexpr (std::is_same_v<Member, Request::Exec>) return "exec";
  if constexpr (std::is_same_v<Member, Request::Upload>) return "upload";
  if constexpr (std::is_same_v<Member, Request::Download>) return "download";
  if constexpr (std::is_same_v<Member, Request::Activate>) return "activate";
}

}  // namespace

void append_json_string(std::string& out, std::string_view utf8) {
  const auto* const first_escape = std::find_if(
      utf8.begin(), utf8.end(), [](char c) { return needs_escape(static_cast<unsigned char>(c)); });
  // The usual string, short and plain, goes out with its quotes in one append.
  constexpr std::size_t SHORT = 64;
  if (first_escape == utf8.end() && utf8.size() <= SHORT) {
    std::array<char, SHORT + 2> quoted{};
    quoted[0] = '"';
    std::memcpy(quoted.data() + 1, utf8.data(), utf8.size());
    quoted[utf8.size() + 1] = '"';
    out.append(quoted.data(), utf8.size() + 2);
    return;
  }
  out += '"';
  // Runs of bytes that go out raw ('/' and every non-ASCII byte among them)
  // are copied whole.
  std::size_t raw_from = 0;
  for (auto i = static_cast<std::size_t>(first_escape - utf8.begin()); i < utf8.size(); ++i) {
    auto c = static_cast<unsigned char>(utf8[i]);
    if (!needs_escape(c)) continue;
    out.append(utf8.data() + raw_from, i - raw_from);
    append_escape(out, c);
    raw_from = i + 1;
  }
  out.append(utf8.data() + raw_from, utf8.size() - raw_from);
  out += '"';
}

std::string json_quote(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  append_json_string(out, utf8);
  return out;
}

Result<std::string, std::string> encode_request(const Request& request) {
  std::string out = "{\"version\":" + std::to_string(PROTOCOL_VERSION) + ",\"request\":{\"type\":";
  FieldWriter fields(out);
  bool ok = std::visit(
      [&](const auto& member) {
        append_json_string(out, tag_of<std::decay_t<decltype(member)>>());
        return write_member(fields, member);
      },
      request.member);
  if (!ok) return fail(std::string(INVALID_PATH));
  out += "}}";
  return out;
}

}  // namespace sorvane
