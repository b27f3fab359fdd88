#include "mcp/client_requests.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace sorvane::mcp {
namespace {

using Why = UnansweredRequest::Why;

// The client's side: what the server sent, and a hook that answers.
struct FakeClient {
  std::mutex mutex;
  std::vector<Json> sent;
  std::function<void(const Json&)> on_request;

  ClientRequests::Send send() {
    return [this](const Json& message) {
      {
        const std::lock_guard lock(mutex);
        sent.push_back(message);
      }
      if (on_request && message.contains("id")) on_request(message);
    };
  }
  Json last() {
    const std::lock_guard lock(mutex);
    return sent.back();
  }
};

Json response_to(const Json& request, const Json& body) {
  Json response = {{"jsonrpc", "2.0"}, {"id", request["id"]}};
  response.update(body);
  return response;
}

TEST(ClientRequests, AnswersReachTheWaitingThread) {
  FakeClient client;
  ClientRequests requests(client.send());
  std::vector<std::thread> answering;
  // Answered from another thread, as the reading thread does; the first
  // response gets through, a repeated one is stray.
  client.on_request = [&](const Json& request) {
    answering.emplace_back([&, request] {
      EXPECT_TRUE(requests.deliver(response_to(request, {{"result", {{"roots", "r"}}}})));
      EXPECT_FALSE(requests.deliver(response_to(request, {{"result", {}}})));
    });
  };
  const Cancellation cancellation;
  auto answer = requests.ask("roots/list", Json::object(), Deadline(), cancellation);
  for (std::thread& thread : answering) thread.join();
  ASSERT_TRUE(answer);
  EXPECT_EQ((*answer)["roots"], "r");
  EXPECT_EQ(client.sent[0]["method"], "roots/list");

  client.on_request = [&](const Json& request) {
    EXPECT_TRUE(
        requests.deliver(response_to(request, {{"error", {{"code", -1}, {"message", "no"}}}})));
  };
  auto refused = requests.ask("roots/list", Json::object(), Deadline(), cancellation);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().why, Why::ErrorResponse);
  EXPECT_EQ(refused.error().text, "no");
  EXPECT_NE(client.sent[0]["id"], client.sent[1]["id"]);
}

TEST(ClientRequests, EveryWaitEndsAndWithdrawsItsRequest) {
  FakeClient client;
  ClientRequests requests(client.send());

  const Cancellation patient;
  const auto past = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  auto late = requests.ask("elicitation/create", Json::object(), Deadline::at(past), patient);
  ASSERT_FALSE(late);
  EXPECT_EQ(late.error().why, Why::TimedOut);
  EXPECT_EQ(client.last()["method"], "notifications/cancelled");
  EXPECT_EQ(client.last()["params"]["requestId"], client.sent[0]["id"]);

  Cancellation cancellation;
  std::vector<std::thread> cancelling;
  client.on_request = [&](const Json&) {
    cancelling.emplace_back([&] {
      cancellation.cancel();
      requests.wake();
    });
  };
  auto cancelled = requests.ask("elicitation/create", Json::object(), Deadline(), cancellation);
  for (std::thread& thread : cancelling) thread.join();
  ASSERT_FALSE(cancelled);
  EXPECT_EQ(cancelled.error().why, Why::Cancelled);
  EXPECT_EQ(client.last()["method"], "notifications/cancelled");

  std::vector<std::thread> closing;
  client.on_request = [&](const Json&) { closing.emplace_back([&] { requests.close(); }); };
  auto ended = requests.ask("roots/list", Json::object(), Deadline(), patient);
  for (std::thread& thread : closing) thread.join();
  ASSERT_FALSE(ended);
  EXPECT_EQ(ended.error().why, Why::InputEnded);
  // After the end nothing more is asked.
  const auto sent = client.sent.size();
  EXPECT_FALSE(requests.ask("roots/list", Json::object(), Deadline(), patient));
  EXPECT_EQ(client.sent.size(), sent);
}

}  // namespace
}  // namespace sorvane::mcp
