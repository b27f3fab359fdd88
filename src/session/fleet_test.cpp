#include "session/fleet.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ipc/shared_endpoint.h"

namespace sorvane {
namespace {

// Records what the engine tells, as "i:events" and "i:<exit code or error>".
class Recorder final : public FleetObserver {
 public:
  ConversationEvents& events(std::size_t host) override {
    record(std::to_string(host) + ":events");
    return passed_over_;
  }
  void ended(std::size_t host, const HostOutcome& outcome) override {
    record(std::to_string(host) + ":" +
           (outcome.error ? outcome.error->message : std::to_string(*outcome.exit_code)));
    if (then) then(host);
  }
  std::vector<std::string> told;
  std::function<void(std::size_t)> then;

 private:
  void record(std::string line) {
    const std::lock_guard lock(mutex_);
    told.push_back(std::move(line));
  }
  std::mutex mutex_;
  ConversationEvents passed_over_;
};

FleetPlan plan_of(std::size_t hosts, unsigned parallel, std::optional<std::uint32_t> max_fail,
                  std::string policy = {}) {
  FleetPlan plan;
  for (std::size_t i = 0; i < hosts; ++i) plan.hosts.push_back({std::to_string(i), {}, {}});
  plan.parallel = parallel;
  plan.max_fail = max_fail;
  plan.failure_policy = std::move(policy);
  return plan;
}

HostConverse exiting_with(const std::vector<int>& codes) {
  return [codes](const HostLabel& host, ConversationEvents&) {
    HostOutcome outcome;
    outcome.exit_code = codes.at(std::stoul(host.id));
    return outcome;
  };
}

// One host after another, so the hosts a policy keeps from starting are known.
TEST(RunFleet, FailurePolicyKeepsLaterHostsFromStarting) {
  struct Case {
    std::vector<int> exits;
    std::optional<std::uint32_t> max_fail;
    std::string policy;
    std::vector<std::string> told;
  };
  const std::vector<Case> cases = {
      {{0, 3, 0}, std::nullopt, "", {"0:events", "0:0", "1:events", "1:3", "2:events", "2:0"}},
      {{0, 3, 0, 0},
       1,
       "--fail-fast",
       {"0:events", "0:0", "1:events", "1:3", "2:not run: 1 host failed (--fail-fast)",
        "3:not run: 1 host failed (--fail-fast)"}},
      {{1, 0, 2, 0},
       2,
       "",
       {"0:events", "0:1", "1:events", "1:0", "2:events", "2:2", "3:not run: 2 hosts failed"}},
  };
  for (const Case& c : cases) {
    Recorder recorder;
    const auto outcomes = run_fleet(plan_of(c.exits.size(), 1, c.max_fail, c.policy),
                                    exiting_with(c.exits), recorder);
    EXPECT_EQ(recorder.told, c.told);
    ASSERT_EQ(outcomes.size(), c.exits.size());
    for (const HostOutcome& outcome : outcomes) {
      EXPECT_EQ(outcome.not_run, !outcome.exit_code);
      if (outcome.not_run) {
        EXPECT_EQ(outcome.error->code, ErrorCode::ConnectFailed);
      }
    }
  }
}

// A host already running when another fails still runs to its end.
TEST(RunFleet, RunningHostsFinishAfterTheFailure) {
  std::mutex mutex;
  std::condition_variable changed;
  bool second_started = false;
  bool first_ended = false;
  const HostConverse converse = [&](const HostLabel& host, ConversationEvents&) {
    HostOutcome outcome;
    std::unique_lock lock(mutex);
    if (host.id == "1") {
      second_started = true;
      changed.notify_all();
      changed.wait(lock, [&] { return first_ended; });  // so its thread takes no host before
      outcome.exit_code = 0;
    } else {
      changed.wait(lock, [&] { return second_started; });  // fails only once 1 runs
      outcome.exit_code = 1;
    }
    return outcome;
  };
  Recorder recorder;
  recorder.then = [&](std::size_t host) {
    const std::lock_guard lock(mutex);
    first_ended = first_ended || host == 0;
    changed.notify_all();
  };
  const auto outcomes = run_fleet(plan_of(4, 2, 1), converse, recorder);
  EXPECT_EQ(outcomes[0].exit_code, 1);
  EXPECT_EQ(outcomes[1].exit_code, 0);
  EXPECT_TRUE(outcomes[2].not_run && outcomes[3].not_run);
}

TEST(RunFleet, AStopKeepsTheRestFromStarting) {
  FleetStop stop;
  const HostConverse converse = [&](const HostLabel& host, ConversationEvents&) {
    if (host.id == "1") stop.stop();
    HostOutcome outcome;
    outcome.exit_code = 0;
    return outcome;
  };
  Recorder recorder;
  const auto outcomes = run_fleet(plan_of(3, 1, std::nullopt), converse, recorder, &stop);
  EXPECT_EQ(recorder.told, (std::vector<std::string>{"0:events", "0:0", "1:events", "1:0",
                                                     "2:not run: the run was stopped"}));
  EXPECT_TRUE(outcomes[2].not_run);
}

// An endpoint whose every conversation is silent until it is shut down.
class SilentPipes final : public PipeSystem {
 public:
  Result<std::unique_ptr<PipeConnection::Handle>, int> open(std::string_view,
                                                            const Deadline&) override {
    const std::lock_guard lock(mutex_);
    ++opened_;
    changed_.notify_all();
    return std::unique_ptr<PipeConnection::Handle>(std::make_unique<Silent>());
  }
  OpenFailure classify(int) const override { return OpenFailure::Other; }
  void wait_busy(std::string_view, int) override {}
  Result<bool, int> owner_accepted(PipeConnection::Handle&) override { return true; }

  void wait_until_opened(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return opened_ >= count; });
  }

 private:
  class Silent final : public PipeConnection::Handle {
   public:
    IoResult<std::size_t> read_some(MutableByteSpan) override {
      std::unique_lock lock(mutex_);
      shut_.wait(lock, [this] { return down_; });
      return std::size_t{0};
    }
    IoResult<std::size_t> write_some(ByteSpan bytes) override { return bytes.size(); }
    void shut_down() noexcept override {
      const std::lock_guard lock(mutex_);
      down_ = true;
      shut_.notify_all();
    }

   private:
    std::mutex mutex_;
    std::condition_variable shut_;
    bool down_ = false;
  };

  std::mutex mutex_;
  std::condition_variable changed_;
  int opened_ = 0;
};

// A stop ends the conversations that are open at once and starts no more.
TEST(RunFleet, AStopShutsEveryOpenConversationDown) {
  SilentPipes pipes;
  SharedEndpoint endpoint("p", pipes);
  FleetStop stop;
  std::thread stopper([&] {
    pipes.wait_until_opened(2);
    stop.stop();
  });
  Recorder recorder;
  const auto outcomes =
      run_fleet(plan_of(4, 2, std::nullopt), endpoint, ExecOnHosts("true"), recorder, &stop);
  stopper.join();
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    EXPECT_EQ(outcomes[i].error->message,
              i < 2 ? "stopped before it ended" : "not run: the run was stopped");
    EXPECT_EQ(outcomes[i].not_run, i >= 2);
  }
}

TEST(OutcomeOf, ExitTransferOrError) {
  EXPECT_EQ(outcome_of(Reply{Reply::Exit{7}}).exit_code, 7);
  const TransferSummary summary{2, 10, 0, 1, {"x"}};
  const HostOutcome transfer = outcome_of(Reply{Reply::TransferDone{summary}});
  EXPECT_EQ(transfer.transfer, summary);
  EXPECT_TRUE(failed(transfer));
  EXPECT_EQ(outcome_of(Reply{Reply::Error{ErrorCode::HostNotFound, "gone"}}).error->message,
            "gone");
  EXPECT_EQ(outcome_of(Reply{Reply::Hosts{}}).error->code, ErrorCode::ConnectFailed);
}

}  // namespace
}  // namespace sorvane
