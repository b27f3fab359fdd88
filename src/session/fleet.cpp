#include "session/fleet.h"

#include <mutex>
#include <numeric>
#include <variant>

#include "base/duration.h"
#include "base/thread_pool.h"
#include "ipc/shared_endpoint.h"
#include "protocol/json_quote.h"

namespace sorvane {
namespace {

HostOutcome errored(ToolError error) {
  HostOutcome outcome;
  outcome.error = std::move(error);
  return outcome;
}

HostOutcome not_run(const std::string& why) {
  HostOutcome outcome = errored({ErrorCode::ConnectFailed, "not run: " + why});
  outcome.not_run = true;
  return outcome;
}

// The failures so far, and whether they keep the next host from starting.
class FailurePolicy {
 public:
  explicit FailurePolicy(const FleetPlan& plan) : plan_(plan) {}

  void count(const HostOutcome& outcome) {
    if (!failed(outcome)) return;
    const std::lock_guard lock(mutex_);
    ++failures_;
  }

  // Why the next host may not start, if it may not.
  std::optional<std::string> refusal(const FleetStop* stop) const {
    if (stop != nullptr && stop->stopped()) return std::string("the run was stopped");
    if (!plan_.max_fail) return std::nullopt;
    std::uint32_t failures = 0;
    {
      const std::lock_guard lock(mutex_);
      failures = failures_;
    }
    if (failures < *plan_.max_fail) return std::nullopt;
    std::string why = std::to_string(failures) + (failures == 1 ? " host" : " hosts") + " failed";
    if (!plan_.failure_policy.empty()) why += " (" + plan_.failure_policy + ")";
    return why;
  }

 private:
  const FleetPlan& plan_;
  mutable std::mutex mutex_;
  std::uint32_t failures_ = 0;
};

HostOutcome run_host(const FleetPlan& plan, std::size_t index, const HostConverse& converse,
                     FleetObserver& observer, FailurePolicy& policy, FleetStop* stop) {
  if (auto refusal = policy.refusal(stop)) {
    HostOutcome outcome = not_run(*refusal);
    observer.ended(index, outcome);
    return outcome;
  }
  HostOutcome outcome = converse(plan.hosts[index], observer.events(index));
  // Counted before the host's end is told, so that with --parallel 1 the
  // next host already sees it.
  policy.count(outcome);
  observer.ended(index, outcome);
  return outcome;
}

// One host's conversation, on a connection that the shared endpoint opens
// when its turn comes. The timeout counts from then: waiting for a turn
// behind our own conversations is not the host's time.
HostOutcome converse_with(SharedEndpoint& endpoint, const FleetOperation& operation,
                          const std::optional<std::chrono::milliseconds>& timeout,
                          const HostLabel& host, ConversationEvents& events, FleetStop* stop) {
  std::vector<ByteSpan> parts;
  std::string own;
  if (auto framed = operation.frame_for(host, parts, own); !framed) {
    return errored(std::move(framed).error());
  }
  const std::size_t size =
      std::accumulate(parts.begin(), parts.end(), std::size_t{0},
                      [](std::size_t total, const ByteSpan& part) { return total + part.size(); });
  if (auto fits = check_fits_one_frame(size); !fits) return errored(std::move(fits).error());
  auto conversation = endpoint.open();
  if (!conversation) return errored(to_tool_error(conversation.error()));
  PipeConnection& connection = conversation->connection();
  if (timeout) connection.set_deadline(Deadline::after(*timeout));
  const CancellationScope scope(stop != nullptr ? &stop->cancellation() : nullptr, connection);
  auto reply = converse(connection, connection, parts, events);
  if (!reply && stop != nullptr && stop->stopped()) {
    return errored({ErrorCode::ConnectFailed, "stopped before it ended"});
  }
  if (!reply && timeout && connection.deadline().expired()) {
    HostOutcome outcome =
        errored({ErrorCode::ConnectFailed, "timed out after " + format_duration(*timeout)});
    outcome.timed_out = true;
    return outcome;
  }
  return outcome_of(std::move(reply));
}

Result<void, ToolError> whole_request(const Request& request, std::vector<ByteSpan>& parts,
                                      std::string& own) {
  auto encoded = encode_for_one_frame(request);
  if (!encoded) return fail(std::move(encoded).error());
  own = std::move(*encoded);
  parts.push_back(as_bytes(own));
  return {};
}

}  // namespace

bool failed(const HostOutcome& outcome) {
  if (outcome.error || outcome.timed_out || outcome.not_run) return true;
  if (outcome.transfer) return outcome.transfer->failed > 0;
  return outcome.exit_code != 0;
}

HostOutcome outcome_of(FinalReply reply) {
  if (!reply) return errored(std::move(reply).error());
  if (auto* exit = std::get_if<Reply::Exit>(&reply->value)) {
    HostOutcome outcome;
    outcome.exit_code = exit->code;
    return outcome;
  }
  if (auto* done = std::get_if<Reply::TransferDone>(&reply->value)) {
    HostOutcome outcome;
    outcome.transfer = std::move(done->summary);
    return outcome;
  }
  if (auto* error = std::get_if<Reply::Error>(&reply->value)) {
    return errored({error->code, std::move(error->message)});
  }
  return errored(connection_broken("unexpected reply"));
}

std::vector<HostOutcome> run_fleet(const FleetPlan& plan, const HostConverse& converse,
                                   FleetObserver& observer, FleetStop* stop) {
  std::vector<HostOutcome> outcomes(plan.hosts.size());
  FailurePolicy policy(plan);
  {
    ThreadPool pool(plan.parallel);
    for (std::size_t i = 0; i < plan.hosts.size(); ++i) {
      auto submitted = pool.submit([&plan, &converse, &observer, &policy, &outcomes, stop, i] {
        outcomes[i] = run_host(plan, i, converse, observer, policy, stop);
      });
      if (!submitted) {
        outcomes[i] = errored(connection_broken("cannot start a thread: " + submitted.error()));
        observer.ended(i, outcomes[i]);
      }
    }
  }  // every host has ended here: the pool joins its threads
  return outcomes;
}

std::vector<HostOutcome> run_fleet(const FleetPlan& plan, SharedEndpoint& endpoint,
                                   const FleetOperation& operation, FleetObserver& observer,
                                   FleetStop* stop) {
  return run_fleet(
      plan,
      [&](const HostLabel& host, ConversationEvents& events) {
        return converse_with(endpoint, operation, plan.timeout, host, events, stop);
      },
      observer, stop);
}

Result<void, ToolError> ExecOnHosts::frame_for(const HostLabel& host, std::vector<ByteSpan>& parts,
                                               std::string& own) const {
  own = json_quote(host.id);
  parts = {as_bytes(envelope_.before_host), as_bytes(own), as_bytes(envelope_.after_host)};
  return {};
}

Result<void, ToolError> ExecOnHosts::check_fits(const std::vector<std::string>& ids) const {
  std::size_t largest = envelope_.size_for("");
  for (const std::string& id : ids) largest = std::max(largest, envelope_.size_for(id));
  return check_fits_one_frame(largest);
}

Result<void, ToolError> UploadToHosts::frame_for(const HostLabel& host,
                                                 std::vector<ByteSpan>& parts,
                                                 std::string& own) const {
  return whole_request(Request{Request::Upload{host.id, local_, remote_}}, parts, own);
}

Result<void, ToolError> DownloadFromHosts::frame_for(const HostLabel& host,
                                                     std::vector<ByteSpan>& parts,
                                                     std::string& own) const {
  auto local = local_for_(host);
  if (!local) return fail(std::move(local).error());
  return whole_request(Request{Request::Download{host.id, remote_, std::move(*local)}}, parts, own);
}

}  // namespace sorvane
