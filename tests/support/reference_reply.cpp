#include "support/reference_reply.h"

#include <exception>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace sorvane::reference {
namespace {

using Json = nlohmann::json;
template <class T>
using Maybe = std::optional<T>;

// Appended to a repeated key: never part of a parsed key, which is UTF-8.
constexpr char REPEAT = '\xFF';

// The library's tree builder, except that a repeated key is kept under a
// marked name instead of replacing the first value.
class KeepRepeats : public nlohmann::detail::json_sax_dom_parser<Json> {
 public:
  using Base = nlohmann::detail::json_sax_dom_parser<Json>;
  explicit KeepRepeats(Json& tree) : Base(tree, false) {}

  bool start_object(std::size_t size) {
    keys_.emplace_back();
    return Base::start_object(size);
  }
  bool end_object() {
    keys_.pop_back();
    return Base::end_object();
  }
  bool key(Json::string_t& name) {
    if (!keys_.back().insert(name).second) name += REPEAT;
    return Base::key(name);
  }

 private:
  std::vector<std::set<std::string>> keys_;
};

bool repeated(const Json& object, std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    if (object.contains(std::string(key) + REPEAT)) return true;
  }
  return false;
}

Maybe<std::string> text(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

// Absent or null gives none; a string gives itself; anything else fails.
Maybe<std::optional<std::string>> optional_text(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return std::optional<std::string>();
  if (!it->is_string()) return std::nullopt;
  return std::optional<std::string>(it->get<std::string>());
}

template <class T>
Maybe<T> integer(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  if (it->is_number_unsigned()) {
    auto value = it->get<std::uint64_t>();
    if (std::in_range<T>(value)) return static_cast<T>(value);
  } else if (it->is_number_integer()) {
    auto value = it->get<std::int64_t>();
    if (std::in_range<T>(value)) return static_cast<T>(value);
  }
  return std::nullopt;
}

Maybe<HostInfo> host(const Json& item) {
  if (!item.is_object() || repeated(item, {"id", "name", "group", "user", "host", "port", "os"}))
    return std::nullopt;
  auto id = text(item, "id");
  auto name = text(item, "name");
  auto group = optional_text(item, "group");
  auto user = text(item, "user");
  auto address = text(item, "host");
  auto port = integer<std::uint16_t>(item, "port");
  auto os = optional_text(item, "os");
  if (!id || !name || !group || !user || !address || !port || !os) return std::nullopt;
  return HostInfo{*id, *name, *group, *user, *address, *port, *os};
}

Maybe<Reply> hosts(const Json& root) {
  auto list = root.find("hosts");
  if (repeated(root, {"hosts"}) || list == root.end() || !list->is_array()) return std::nullopt;
  Reply::Hosts reply;
  for (const Json& item : *list) {
    auto decoded = host(item);
    if (!decoded) return std::nullopt;
    reply.hosts.push_back(std::move(*decoded));
  }
  return Reply{std::move(reply)};
}

Maybe<Reply> progress(const Json& root) {
  if (repeated(root, {"files", "total_files", "bytes", "total_bytes"})) return std::nullopt;
  auto files = integer<std::uint64_t>(root, "files");
  auto total_files = integer<std::uint64_t>(root, "total_files");
  auto bytes = integer<std::uint64_t>(root, "bytes");
  auto total_bytes = integer<std::uint64_t>(root, "total_bytes");
  if (!files || !total_files || !bytes || !total_bytes) return std::nullopt;
  return Reply{Reply::Progress{{*files, *total_files, *bytes, *total_bytes}}};
}

Maybe<Reply> transfer_done(const Json& root) {
  if (repeated(root, {"files", "bytes", "skipped", "failed", "failures"})) return std::nullopt;
  auto files = integer<std::uint64_t>(root, "files");
  auto bytes = integer<std::uint64_t>(root, "bytes");
  auto skipped = integer<std::uint64_t>(root, "skipped");
  auto failed = integer<std::uint64_t>(root, "failed");
  auto list = root.find("failures");
  if (!files || !bytes || !skipped || !failed || list == root.end() || !list->is_array())
    return std::nullopt;
  TransferSummary summary{*files, *bytes, *skipped, *failed, {}};
  for (const Json& item : *list) {
    if (!item.is_string()) return std::nullopt;
    summary.failures.push_back(item.get<std::string>());
  }
  return Reply{Reply::TransferDone{std::move(summary)}};
}

Maybe<Reply> exit(const Json& root) {
  auto code = integer<std::int32_t>(root, "code");
  if (repeated(root, {"code"}) || !code) return std::nullopt;
  return Reply{Reply::Exit{*code}};
}

Maybe<Reply> error(const Json& root) {
  auto word = text(root, "code");
  auto message = text(root, "message");
  if (repeated(root, {"code", "message"}) || !word || !message) return std::nullopt;
  auto code = parse_code_word(*word);
  if (!code) return std::nullopt;
  return Reply{Reply::Error{*code, *message}};
}

}  // namespace

std::optional<Reply> decode_reply(std::string_view payload) {
  if (payload.starts_with("\xEF\xBB\xBF")) return std::nullopt;  // the library would skip it
  Json root;
  try {
    KeepRepeats builder(root);
    if (!Json::sax_parse(payload.begin(), payload.end(), &builder)) return std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (!root.is_object() || repeated(root, {"type"})) return std::nullopt;
  auto tag = text(root, "type");
  if (!tag) return std::nullopt;
  if (*tag == "hosts") return hosts(root);
  if (*tag == "progress") return progress(root);
  if (*tag == "transfer_done") return transfer_done(root);
  if (*tag == "exit") return exit(root);
  if (*tag == "activated") return Reply{Reply::Activated{}};
  if (*tag == "error") return error(root);
  return std::nullopt;
}

}  // namespace sorvane::reference
