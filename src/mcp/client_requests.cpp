#include "mcp/client_requests.h"

#include <chrono>

namespace sorvane::mcp {
namespace {

std::string id_key(const Json& id) { return id.dump(); }

std::string why_text(UnansweredRequest::Why why) {
  switch (why) {
    case UnansweredRequest::Why::TimedOut:
      return "no answer within the time limit";
    case UnansweredRequest::Why::Cancelled:
      return "the call was cancelled";
    case UnansweredRequest::Why::InputEnded:
      return "the client has gone";
    case UnansweredRequest::Why::ErrorResponse:
      break;
  }
  return "the client answered with an error";
}

std::string error_text(const Json& response) {
  const auto error = response.find("error");
  if (error != response.end() && error->is_object()) {
    const auto message = error->find("message");
    if (message != error->end() && message->is_string()) return message->get<std::string>();
  }
  return why_text(UnansweredRequest::Why::ErrorResponse);
}

}  // namespace

Result<Json, UnansweredRequest> ClientRequests::ask(std::string_view method, Json params,
                                                    const Deadline& deadline,
                                                    const Cancellation& cancellation) {
  std::int64_t id = 0;
  {
    const std::lock_guard lock(mutex_);
    if (closed_) return fail(UnansweredRequest{UnansweredRequest::Why::InputEnded, ""});
    id = next_id_++;
    waiting_.emplace(id_key(Json(id)), std::nullopt);
  }
  send_({{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}});

  const std::string key = id_key(Json(id));
  std::unique_lock lock(mutex_);
  const auto settled = [&] {
    return waiting_[key].has_value() || closed_ || cancellation.cancelled();
  };
  bool in_time = true;
  if (deadline.never()) {
    changed_.wait(lock, settled);
  } else {
    in_time = changed_.wait_for(lock, std::chrono::milliseconds(deadline.wait_ms()), settled);
  }
  std::optional<Json> response = std::move(waiting_[key]);
  waiting_.erase(key);
  const bool closed = closed_;
  lock.unlock();

  if (response) {
    const auto result = response->find("result");
    if (result != response->end()) return std::move(*result);
    return fail(UnansweredRequest{UnansweredRequest::Why::ErrorResponse, error_text(*response)});
  }
  using Why = UnansweredRequest::Why;
  const Why why = closed ? Why::InputEnded : !in_time ? Why::TimedOut : Why::Cancelled;
  if (why != Why::InputEnded) {
    send_({{"jsonrpc", "2.0"},
           {"method", "notifications/cancelled"},
           {"params", {{"requestId", id}, {"reason", why_text(why)}}}});
  }
  return fail(UnansweredRequest{why, why_text(why)});
}

bool ClientRequests::deliver(const Json& response) {
  const auto id = response.find("id");
  if (id == response.end()) return false;
  {
    const std::lock_guard lock(mutex_);
    const auto found = waiting_.find(id_key(*id));
    if (found == waiting_.end() || found->second) return false;
    found->second = response;
  }
  changed_.notify_all();
  return true;
}

void ClientRequests::wake() {
  // Taking the lock orders this after a waiter's look at its cancellation.
  { const std::lock_guard lock(mutex_); }
  changed_.notify_all();
}

void ClientRequests::close() {
  {
    const std::lock_guard lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

}  // namespace sorvane::mcp
