// Requests this server sends to its client (roots/list, elicitation/create).
// A call's thread sends one and waits; the client's response arrives on the
// thread that reads standard input, which hands it to the waiting thread.
// Every wait ends: at the answer, at the deadline, when the call is
// cancelled, or when the input ends.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/deadline.h"
#include "base/result.h"
#include "ipc/cancellation.h"

namespace sorvane::mcp {

using Json = nlohmann::ordered_json;

struct UnansweredRequest {
  enum class Why { ErrorResponse, TimedOut, Cancelled, InputEnded };
  Why why;
  std::string text;
};

class ClientRequests {
 public:
  using Send = std::function<void(const Json& message)>;

  explicit ClientRequests(Send send) : send_(std::move(send)) {}

  // Sends the request and waits for the result. A request left unanswered
  // (deadline, cancellation) is withdrawn with notifications/cancelled.
  Result<Json, UnansweredRequest> ask(std::string_view method, Json params,
                                      const Deadline& deadline, const Cancellation& cancellation);

  // A message with an id and no method. False when no request waits for it.
  bool deliver(const Json& response);
  // Some call was cancelled: its waits end.
  void wake();
  // The input ended: every wait ends, and nothing more is asked.
  void close();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, std::optional<Json>> waiting_;  // by the id as JSON text
  std::int64_t next_id_ = 1;
  bool closed_ = false;
  Send send_;
};

}  // namespace sorvane::mcp
