#include "mcp/audit_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "platform/file_input.h"
#include "platform/private_log.h"

namespace sorvane::mcp {
namespace {

AuditEntry entry(std::string command) {
  AuditEntry entry;
  entry.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(1735787045678));
  entry.call = "0badcafe-1";
  entry.outcome = CallOutcome::Ok;
  entry.client = {{"name", "agent"}, {"version", "1.0"}};
  entry.tool = "exec";
  entry.host = "a1b2c3d4e5f60718";
  entry.arguments = {{"command", std::move(command)}};
  entry.exit_code = 0;
  entry.bytes = 12;
  entry.duration_ms = 34;
  return entry;
}

// The log as appends leave it, with the last line read the way the file
// reader reads it (from the end, in growing chunks).
std::string append(std::string log, const AuditEntry& added) {
  auto last = read_last_line(log.size(), [&](std::uint64_t offset, MutableByteSpan bytes) {
    std::copy_n(log.begin() + static_cast<std::ptrdiff_t>(offset), bytes.size(), bytes.begin());
    return IoResult<void>();
  });
  return log + chained_line(added, *last) + "\n";
}

TEST(AuditLog, LineHoldsTheRecordAndTheFirstPrev) {
  EXPECT_EQ(
      chained_line(entry("uname -a"), ""),
      R"({"time":"2025-01-02T03:04:05.678Z","call":"0badcafe-1","event":"ended",)"
      R"("client":{"name":"agent","version":"1.0"},"tool":"exec","host":"a1b2c3d4e5f60718","arguments":{"command":"uname -a"},)"
      R"("outcome":"ok","exit_code":0,"bytes":12,"duration_ms":34,"prev":")" +
          std::string(64, '0') + R"("})");
}

// Any one changed byte, in any line but the last, breaks the chain at that
// line or the next; lines long enough to span the reader's chunks included.
TEST(AuditLog, EveryChangedByteBreaksTheChain) {
  std::string log;
  for (const std::string& command :
       {std::string("ls"), std::string(5000, 'x'), std::string("é\n")}) {
    log = append(log, entry(command));
  }
  ASSERT_FALSE(find_chain_break(log));
  const std::size_t last_line_start = log.rfind('\n', log.size() - 2) + 1;
  // The long run of x's, all alike, is sampled.
  for (std::size_t at = 0; at < last_line_start; at += log[at] == 'x' ? 97 : 1) {
    std::string tampered = log;
    tampered[at] = static_cast<char>(tampered[at] ^ 0x01);
    const auto broken = find_chain_break(tampered);
    ASSERT_TRUE(broken) << "byte " << at;
    const auto line = static_cast<std::size_t>(
        std::count(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(at), '\n') + 1);
    EXPECT_TRUE(broken->line == line || broken->line == line + 1) << "byte " << at;
  }
  EXPECT_EQ(find_chain_break(log.substr(0, log.size() - 1))->line, 3U);  // cut short
}

TEST(AuditLog, ALineCutShortKeepsItsPlaceAndTheNextStartsAfresh) {
  const std::string cut = append("", entry("a")) + R"({"time":"20)";
  const std::string log = append(cut, entry("b"));
  EXPECT_EQ(log.substr(cut.size(), 1), "\n");
  const auto broken = find_chain_break(log);
  ASSERT_TRUE(broken);
  EXPECT_EQ(broken->line, 2U);  // the cut line itself, nothing after it
  EXPECT_EQ(broken->why, "not a JSON object");
}

// A stopped server leaves a started line without an outcome: a warning,
// found by the call's id and host (a call on several hosts has a pair of
// lines for each), whatever lies between.
TEST(AuditLog, StartedCallsWithoutAnOutcomeAreFound) {
  const auto with = [](const char* call, bool started, const char* host = "a1b2c3d4e5f60718") {
    AuditEntry line = entry("sleep 2; touch m");
    line.call = call;
    line.host = host;
    if (started) line.outcome.reset();
    return line;
  };
  std::string log = append("", with("a-1", true));
  log = append(log, with("a-2", true));
  log = append(log, with("a-1", false));
  log = append(log, with("a-3", false));             // refused before it started
  log += "{\"time\":\"old\",\"outcome\":\"ok\"}\n";  // an older server's line, no call
  log = append(log, with("a-4", true));
  log = append(log, with("a-5", true, "b7c8d9e0f1a2b3c4"));
  log = append(log, with("a-5", true, "c0ffee0000000001"));
  log = append(log, with("a-5", false, "c0ffee0000000001"));
  const Json started = Json::parse(log.substr(0, log.find('\n')));
  EXPECT_EQ(started["event"], "started");
  EXPECT_FALSE(started.contains("outcome") || started.contains("bytes")) << started.dump();
  EXPECT_EQ(unfinished_calls(log), (std::vector<std::size_t>{2, 6, 7}));
}

// Two writers with a file each, as two servers have: the file's lock keeps
// every line's prev on the line before.
TEST(AuditLog, TwoWritersKeepOneChain) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("sorvane-audit-" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(dir);
  const NativePath path = (dir / "audit.log").native();
  std::vector<std::thread> writers;
  writers.reserve(2);
  for (int writer = 0; writer < 2; ++writer) {
    writers.emplace_back([&, writer] {
      AuditLog log(path);
      for (int i = 0; i < 50; ++i) {
        EXPECT_TRUE(log.append(entry(std::to_string(writer) + "/" + std::to_string(i))));
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  auto content = read_file(path, std::numeric_limits<std::size_t>::max());
  ASSERT_TRUE(content);
  EXPECT_EQ(std::count(content->begin(), content->end(), '\n'), 100);
  EXPECT_FALSE(find_chain_break(*content));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace sorvane::mcp
