#include "mcp/request_state.h"

#include <algorithm>
#include <string>

#include "platform/sha256.h"
#include "text/hex.h"

namespace sorvane::mcp {
namespace {

constexpr char TAG_SEPARATOR = '.';

std::int64_t ticks(RequestStateSeal::Clock::time_point when) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
}

// The state's content, when it is whole and its tag is this process's.
std::optional<Json> unsealed(std::string_view state, const HmacKey& key) {
  const auto separator = state.find(TAG_SEPARATOR);
  if (separator == std::string_view::npos) return std::nullopt;
  const auto body = from_hex(state.substr(0, separator));
  const auto tag = from_hex(state.substr(separator + 1));
  HmacSha256Tag tag_bytes{};
  if (!body || !tag || tag->size() != tag_bytes.size()) return std::nullopt;
  std::copy(tag->begin(), tag->end(), tag_bytes.begin());
  if (!hmac_sha256_matches(key, *body, tag_bytes)) return std::nullopt;
  Json content = Json::parse(body->begin(), body->end(), nullptr, false);
  if (!content.is_object()) return std::nullopt;
  return content;
}

AskedCall asked_call_of(const Json& content) {
  AskedCall call;
  call.tool = content.value("tool", "");
  call.arguments_digest = content.value("arguments", "");
  const auto hosts = content.find("hosts");
  if (hosts != content.end() && hosts->is_array()) {
    for (const Json& host : *hosts) {
      if (host.is_string()) call.hosts.push_back(host.get<std::string>());
    }
  }
  return call;
}

}  // namespace

std::string digest_arguments(const Json& arguments) {
  // The unordered JSON type keeps its members sorted.
  const nlohmann::json sorted(arguments);
  const std::string text = sorted.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  const Sha256Digest digest = sha256(as_bytes(text));
  return lower_hex(digest);
}

std::string RequestStateSeal::seal(const AskedCall& call, Clock::time_point expires) {
  std::uint64_t number = 0;
  {
    const std::lock_guard lock(mutex_);
    number = ++sealed_;
  }
  const Json content = {{"n", number},
                        {"tool", call.tool},
                        {"hosts", call.hosts},
                        {"arguments", call.arguments_digest},
                        {"expires", ticks(expires)}};
  const std::string body = content.dump();
  const HmacSha256Tag tag = hmac_sha256(key_, as_bytes(body));
  return lower_hex(as_bytes(body)) + TAG_SEPARATOR + lower_hex(tag);
}

std::optional<StateRefusal> RequestStateSeal::accept(std::string_view state, const AskedCall& call,
                                                     Clock::time_point now) {
  const auto content = unsealed(state, key_);
  if (!content) return StateRefusal::Altered;
  const std::int64_t expires = content->value("expires", std::int64_t{0});
  if (ticks(now) >= expires) return StateRefusal::Expired;
  if (asked_call_of(*content) != call) return StateRefusal::OtherCall;
  const auto number = content->value("n", std::uint64_t{0});
  const std::lock_guard lock(mutex_);
  std::erase_if(spent_, [&](const auto& entry) { return entry.second <= now; });
  const auto expiry = Clock::time_point(std::chrono::milliseconds(expires));
  if (!spent_.emplace(number, expiry).second) return StateRefusal::Spent;
  return std::nullopt;
}

}  // namespace sorvane::mcp
