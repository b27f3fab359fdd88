#include "protocol/request.h"

#include <type_traits>

namespace sorvane {
namespace {

constexpr std::string_view kInvalidPath = "path contains invalid UTF-8 characters";

void append_escaped_control(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u00";
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

void append_quoted(std::string& out, std::string_view utf8) {
  out += '"';
  for (char ch : utf8) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20) {
          append_escaped_control(out, c);
        } else {
          out += ch;  // '/' and every non-ASCII byte go out raw
        }
    }
  }
  out += '"';
}

// Appends `,"key":value` for one field of the request object.
class FieldWriter {
 public:
  explicit FieldWriter(std::string& out) : out_(out) {}

  void text(std::string_view key, std::string_view value) {
    begin(key);
    append_quoted(out_, value);
  }

  void optional_text(std::string_view key, const std::optional<std::string>& value) {
    begin(key);
    if (value) {
      append_quoted(out_, *value);
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
    append_quoted(out_, key);
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

std::string json_quote(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  append_quoted(out, utf8);
  return out;
}

Result<std::string, std::string> encode_request(const Request& request) {
  std::string out = "{\"version\":" + std::to_string(kProtocolVersion) + ",\"request\":{\"type\":";
  FieldWriter fields(out);
  bool ok = std::visit(
      [&](const auto& member) {
        append_quoted(out, tag_of<std::decay_t<decltype(member)>>());
        return write_member(fields, member);
      },
      request.member);
  if (!ok) return fail(std::string(kInvalidPath));
  out += "}}";
  return out;
}

}  // namespace sorvane
