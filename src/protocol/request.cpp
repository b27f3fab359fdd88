#include "protocol/request.h"

#include <type_traits>

#include "protocol/json_quote.h"

namespace sorvane {
namespace {

constexpr std::string_view INVALID_PATH = "path contains invalid UTF-8 characters";

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

  // `,"key":`, for a value that someone else writes.
  void begin(std::string_view key) {
    out_ += ',';
    append_json_string(out_, key);
    out_ += ':';
  }

 private:
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

constexpr std::string_view ENVELOPE_END = "}}";
// Room for `,"command":` and the end of the envelope.
constexpr std::size_t AROUND_COMMAND = 16;

// The envelope up to the request's first field.
template <class Member>
std::string envelope_start() {
  std::string out = "{\"version\":" + std::to_string(PROTOCOL_VERSION) + ",\"request\":{\"type\":";
  append_json_string(out, tag_of<Member>());
  return out;
}

}  // namespace

Result<std::string, std::string> encode_request(const Request& request) {
  std::string out;
  bool ok = std::visit(
      [&](const auto& member) {
        out = envelope_start<std::decay_t<decltype(member)>>();
        FieldWriter fields(out);
        return write_member(fields, member);
      },
      request.member);
  if (!ok) return fail(std::string(INVALID_PATH));
  out += ENVELOPE_END;
  return out;
}

ExecEnvelope encode_exec_envelope(std::string_view command) {
  ExecEnvelope envelope{envelope_start<Request::Exec>(), {}};
  FieldWriter(envelope.before_host).begin("host");
  // Sized once: the command may be most of a frame, and growing by copies
  // would hold it twice over.
  envelope.after_host.reserve(json_string_length(command) + AROUND_COMMAND);
  FieldWriter(envelope.after_host).text("command", command);
  envelope.after_host += ENVELOPE_END;
  return envelope;
}

std::size_t ExecEnvelope::size_for(std::string_view host) const {
  return before_host.size() + json_string_length(host) + after_host.size();
}

}  // namespace sorvane
