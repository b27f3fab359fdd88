// The `requestState` a call hands its client when it must ask the user
// first, and which the client echoes when it calls again with the answer.
// The client holds it, so it is sealed with a key only this process knows:
// an answer counts only for the call it was asked about (tool, hosts,
// arguments), before its expiry, and once.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/hmac_sha256.h"

namespace sorvane::mcp {

using Json = nlohmann::ordered_json;

// What the user is asked to allow.
struct AskedCall {
  std::string tool;
  std::vector<std::string> hosts;  // IDs, in the order the call names them
  std::string arguments_digest;    // see digest_arguments

  bool operator==(const AskedCall&) const = default;
};

// SHA-256 of the arguments with their members in a fixed order, as hex: the
// same arguments sent again in another order are the same call.
std::string digest_arguments(const Json& arguments);

// Why an echoed state does not let the call run.
enum class StateRefusal {
  Missing,    // answers came without a state
  Altered,    // not sealed by this process, or changed since
  Expired,    // sealed, but the user's answer came too late
  OtherCall,  // sealed for other arguments, hosts or tool
  Spent,      // its answer already let a call run
};

class RequestStateSeal {
 public:
  using Clock = std::chrono::steady_clock;

  RequestStateSeal() : RequestStateSeal(random_hmac_key()) {}
  explicit RequestStateSeal(const HmacKey& key) : key_(key) {}

  // A state for `call` that holds until `expires`.
  std::string seal(const AskedCall& call, Clock::time_point expires);
  // Nothing when `state` was sealed here for `call`, holds at `now` and was
  // never accepted before; it is then spent.
  std::optional<StateRefusal> accept(std::string_view state, const AskedCall& call,
                                     Clock::time_point now);

 private:
  const HmacKey key_;
  std::mutex mutex_;
  std::uint64_t sealed_ = 0;
  // Accepted states by their number, kept until they expire anyway.
  std::map<std::uint64_t, Clock::time_point> spent_;
};

}  // namespace sorvane::mcp
