#include "ipc/connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

#include "platform/os_error.h"

namespace sorvane {
namespace {

constexpr int BUSY = 1;
constexpr int MISSING = 2;
constexpr int DENIED = 3;
constexpr int OTHER = 4;

struct HandleLog {
  int closed = 0;
  std::size_t bytes_written = 0;
};

class FakeHandle final : public PipeConnection::Handle {
 public:
  explicit FakeHandle(HandleLog& log) : log_(log) {}
  FakeHandle(const FakeHandle&) = delete;
  FakeHandle& operator=(const FakeHandle&) = delete;
  ~FakeHandle() override { ++log_.closed; }
  IoResult<std::size_t> read_some(MutableByteSpan) override { return std::size_t{0}; }
  IoResult<std::size_t> write_some(ByteSpan bytes) override {
    log_.bytes_written += bytes.size();
    return bytes.size();
  }
  void shut_down() noexcept override {}

 private:
  HandleLog& log_;
};

// Open results are scripted per attempt; the last one repeats.
class FakePipes final : public PipeSystem {
 public:
  std::vector<int> open_results;  // 0 = success, else an error code
  Result<bool, int> owner = true;
  std::function<void()> on_wait;
  Deadline::Clock::time_point clock = Deadline::Clock::now();  // moved on by each wait
  int opens = 0;
  std::vector<int> waits_ms;
  HandleLog log;

  Result<std::unique_ptr<PipeConnection::Handle>, int> open(std::string_view,
                                                            const Deadline&) override {
    const int result = open_results.at(std::min<std::size_t>(opens, open_results.size() - 1));
    ++opens;
    if (result != 0) return fail(result);
    return std::unique_ptr<PipeConnection::Handle>(std::make_unique<FakeHandle>(log));
  }
  OpenFailure classify(int code) const override {
    switch (code) {
      case BUSY:
        return OpenFailure::Busy;
      case MISSING:
        return OpenFailure::NotRunning;
      case DENIED:
        return OpenFailure::Denied;
      default:
        return OpenFailure::Other;
    }
  }
  void wait_busy(std::string_view, int ms) override {
    waits_ms.push_back(ms);
    clock += std::chrono::milliseconds(ms);
    if (on_wait) on_wait();
  }
  Result<bool, int> owner_accepted(PipeConnection::Handle&) override { return owner; }
  Deadline::Clock::time_point now() const override { return clock; }
};

TEST(Connect, PipeThatStaysBusyGivesSixOpensFiveWaitsThenTheBusyError) {
  FakePipes pipes;
  pipes.open_results = {BUSY};
  auto result = connect_with(pipes, "p");
  ASSERT_FALSE(result);
  EXPECT_EQ(pipes.opens, 6);
  EXPECT_EQ(pipes.waits_ms, std::vector<int>(5, 1000));
  EXPECT_EQ(result.error().kind, ConnectErrorKind::Io);
  EXPECT_EQ(result.error().io.text, os_error(BUSY).text);
}

TEST(Connect, WithoutWaitsABusyPipeFailsAtTheFirstOpen) {
  FakePipes pipes;
  pipes.open_results = {BUSY, 0};
  auto result = connect_with(pipes, "p", {}, 0);
  ASSERT_FALSE(result);
  EXPECT_EQ(pipes.opens, 1);
  EXPECT_TRUE(pipes.waits_ms.empty());
}

TEST(Connect, InstanceFreedDuringTheThirdWaitIsOpenedFourth) {
  FakePipes pipes;
  pipes.open_results = {BUSY, BUSY, BUSY, 0};
  auto result = connect_with(pipes, "p");
  ASSERT_TRUE(result);
  EXPECT_EQ(pipes.opens, 4);
  EXPECT_EQ(pipes.waits_ms.size(), 3u);
  ASSERT_TRUE(write_all(*result, as_bytes("x")));
  EXPECT_EQ(pipes.log.bytes_written, 1u);
}

TEST(Connect, BusyWaitsStopAtTheDeadlineWithTheTimedOutError) {
  using std::chrono::milliseconds;
  struct Case {
    milliseconds limit;
    int opens;
    std::vector<int> waits_ms;
  };
  const Case cases[] = {
      {milliseconds(2500), 3, {1000, 1000, 500}},
      {milliseconds(1), 1, {1}},
      {milliseconds(0), 0, {}},  // already passed: not even one attempt
  };
  for (const Case& c : cases) {
    FakePipes pipes;
    pipes.open_results = {BUSY};
    auto result = connect_with(pipes, "p", Deadline::at(pipes.clock + c.limit));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, ConnectErrorKind::Io);
    EXPECT_EQ(result.error().io.kind, IoErrorKind::TimedOut);
    EXPECT_EQ(pipes.opens, c.opens) << c.limit.count();
    EXPECT_EQ(pipes.waits_ms, c.waits_ms) << c.limit.count();
  }
}

TEST(Connect, OpenFailuresAreClassifiedWithoutWaiting) {
  struct Case {
    int code;
    ConnectErrorKind kind;
  };
  for (const Case c : {Case{MISSING, ConnectErrorKind::NotRunning},
                       Case{DENIED, ConnectErrorKind::Denied}, Case{OTHER, ConnectErrorKind::Io}}) {
    FakePipes pipes;
    pipes.open_results = {c.code};
    auto result = connect_with(pipes, "p");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, c.kind) << c.code;
    EXPECT_EQ(pipes.opens, 1);
    EXPECT_TRUE(pipes.waits_ms.empty());
  }
}

TEST(Connect, BusyThenMissingStopsWaiting) {
  FakePipes pipes;
  pipes.open_results = {BUSY, MISSING};
  auto result = connect_with(pipes, "p");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ConnectErrorKind::NotRunning);
  EXPECT_EQ(pipes.opens, 2);
  EXPECT_EQ(pipes.waits_ms.size(), 1u);
}

TEST(Connect, RefusedOwnerClosesThePipeWithNothingWritten) {
  FakePipes pipes;
  pipes.open_results = {0};
  pipes.owner = false;
  auto result = connect_with(pipes, "p");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ConnectErrorKind::ForeignOwner);
  EXPECT_EQ(pipes.log.closed, 1);
  EXPECT_EQ(pipes.log.bytes_written, 0u);
}

TEST(Connect, UnreadableOwnerIsAnIoErrorAndClosesThePipe) {
  FakePipes pipes;
  pipes.open_results = {0};
  pipes.owner = fail(OTHER);
  auto result = connect_with(pipes, "p");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ConnectErrorKind::Io);
  EXPECT_EQ(result.error().io.text, os_error(OTHER).text);
  EXPECT_EQ(pipes.log.closed, 1);
}

TEST(Connect, AcceptedConnectionClosesOnceWhenDropped) {
  FakePipes pipes;
  pipes.open_results = {0};
  {
    auto result = connect_with(pipes, "p");
    ASSERT_TRUE(result);
    PipeConnection moved = std::move(*result);
    EXPECT_EQ(pipes.log.closed, 0);
  }
  EXPECT_EQ(pipes.log.closed, 1);
}

TEST(ConnectError, ToolErrorCodesAndMessages) {
  const IoError io{IoErrorKind::Os, "All pipe instances are busy. (os error 231)"};
  struct Case {
    ConnectErrorKind kind;
    ErrorCode code;
    std::string message;
  };
  const Case cases[] = {
      {ConnectErrorKind::NotRunning, ErrorCode::NotRunning,
       "Sorvane 未运行：请先打开 Sorvane，并在 设置 → 外部 CLI 中打开「启用外部 CLI」"},
      {ConnectErrorKind::Denied, ErrorCode::ConnectFailed,
       "没有权限连接 Sorvane：Agent 可能运行在沙箱中，需要允许它访问本机的进程间通信"},
      {ConnectErrorKind::ForeignOwner, ErrorCode::ConnectFailed,
       "外部 CLI 的管道不属于当前用户，已拒绝连接"},
      {ConnectErrorKind::Io, ErrorCode::ConnectFailed,
       "与 Sorvane 的连接意外中断：All pipe instances are busy. (os error 231)"},
  };
  for (const Case& c : cases) {
    const ToolError error = to_tool_error(ConnectError{c.kind, io});
    EXPECT_EQ(error.code, c.code);
    EXPECT_EQ(error.message, c.message);
  }
}

TEST(ConnectError, WindowsOpenErrorClassification) {
  struct Case {
    unsigned long code;
    OpenFailure failure;
  };
  const Case cases[] = {
      {231, OpenFailure::Busy},      {2, OpenFailure::NotRunning},  {3, OpenFailure::NotRunning},
      {15, OpenFailure::NotRunning}, {53, OpenFailure::NotRunning}, {67, OpenFailure::NotRunning},
      {5, OpenFailure::Denied},      {10013, OpenFailure::Denied},  {0, OpenFailure::Other},
      {1, OpenFailure::Other},       {232, OpenFailure::Other},     {1326, OpenFailure::Other},
  };
  for (const Case& c : cases) EXPECT_EQ(classify_windows_open_error(c.code), c.failure) << c.code;
}

}  // namespace
}  // namespace sorvane
