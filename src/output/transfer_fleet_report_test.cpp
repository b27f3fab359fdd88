#include "output/transfer_fleet_report.h"

#include <gtest/gtest.h>

#include <vector>

#include "output/recording_stream_for_tests.h"

namespace sorvane {
namespace {

// A name and a failed file that would clear the screen or set the clipboard
// if they reached a terminal raw; a write that fails is the run's failure.
TEST(TransferFleetReport, LinesAreInertAndALostLineFailsTheRun) {
  const std::vector<HostLabel> hosts = {{"a1", "web\x1b[2J", "web\x1b[2J"}, {"a2", {}, "a2"}};
  std::vector<HostOutcome> ended(2);
  ended[0].transfer = TransferSummary{2, 1536, 0, 1, {"无法读取 /x\x1b]52;c;eA==\x07"}};
  ended[1].error = ToolError{ErrorCode::HostNotFound, "找不到主机 a2"};
  testing::RecordedStreams recorded(false);
  TransferFleetReport report(hosts, recorded.streams, {});
  report.ended(1, ended[1]);
  report.ended(0, ended[0]);
  EXPECT_EQ(report.finish(ended), 255u);
  EXPECT_EQ(recorded.out.text, "web\\x1b[2J: 已传输 2 个文件，共 1.5 KB，失败 1 个\n");
  EXPECT_EQ(recorded.err.text,
            "a2: sorvane: [host_not_found] 找不到主机 a2\n"
            "web\\x1b[2J: 无法读取 /x\\x1b]52;c;eA==\\x07\n");

  const std::vector<HostOutcome> copied(2, ended[0]);
  EXPECT_EQ(report.finish(copied), 1u);
  recorded.out.fail_writes = true;
  report.ended(0, ended[0]);
  EXPECT_EQ(report.finish(copied), 255u);
}

}  // namespace
}  // namespace sorvane
