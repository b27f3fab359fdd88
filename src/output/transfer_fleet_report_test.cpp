#include "output/transfer_fleet_report.h"

#include <gtest/gtest.h>

#include <vector>

#include "output/recording_stream_for_tests.h"

namespace sorvane {
namespace {

using testing::RecordedStreams;

// A name and a failure that would clear the screen if they reached it raw.
const std::vector<HostLabel> HOSTS = {
    {"a1", "web\x1b[2J", "web\x1b[2J"}, {"a2", std::nullopt, "a2"}, {"a3", "db", "db"}};

std::vector<HostOutcome> outcomes() {
  std::vector<HostOutcome> ended(3);
  ended[0].transfer = TransferSummary{2, 1536, 0, 1, {"无法读取 /x\x1b]52;c;eA==\x07"}};
  ended[1].error = ToolError{ErrorCode::HostNotFound, "找不到主机 a2"};
  ended[2].transfer = TransferSummary{1, 10, 0, 0, {}};
  return ended;
}

TEST(TransferFleetReport, HostLinesJsonAndStatus) {
  struct Case {
    bool json;
    std::vector<std::size_t> order;  // in which the hosts end
    const char* out;
    const char* err;
  };
  const Case cases[] = {
      {false,
       {2, 0, 1},
       "db: 已传输 1 个文件，共 10 B\n"
       "web\\x1b[2J: 已传输 2 个文件，共 1.5 KB，失败 1 个\n",
       "web\\x1b[2J: 无法读取 /x\\x1b]52;c;eA==\\x07\n"
       "a2: sorvane: [host_not_found] 找不到主机 a2\n"},
      {true,
       {1, 0, 2},
       R"({"id":"a2","name":null,"files":null,"bytes":null,"failed":null,"failures":[],)"
       R"("error":"sorvane: [host_not_found] 找不到主机 a2"})"
       "\n"
       R"({"id":"a1","name":"web\u001b[2J","files":2,"bytes":1536,"failed":1,)"
       R"("failures":["无法读取 /x\u001b]52;c;eA==\u0007"],"error":null})"
       "\n"
       R"({"id":"a3","name":"db","files":1,"bytes":10,"failed":0,"failures":[],"error":null})"
       "\n",
       ""},
  };
  for (const Case& c : cases) {
    RecordedStreams recorded(c.json);
    TransferFleetReport report(HOSTS, recorded.streams, {});
    const auto ended = outcomes();
    for (std::size_t host : c.order) report.ended(host, ended[host]);
    EXPECT_EQ(report.finish(ended), 255u);  // a host could not be run
    EXPECT_EQ(recorded.out.text, c.out);
    EXPECT_EQ(recorded.err.text, c.err);
  }
  std::vector<HostOutcome> copied = {outcomes()[2], outcomes()[2]};
  RecordedStreams recorded(true);
  TransferFleetReport report(HOSTS, recorded.streams, {});
  EXPECT_EQ(report.finish(copied), 0u);
  copied[1] = outcomes()[0];
  EXPECT_EQ(report.finish(copied), 1u);  // files failed
  recorded.out.fail_writes = true;
  report.ended(0, copied[0]);
  EXPECT_EQ(report.finish(copied), 255u);  // the host's line was lost
}

}  // namespace
}  // namespace sorvane
