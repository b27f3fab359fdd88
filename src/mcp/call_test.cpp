#include "mcp/call.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "mcp/manual_clock_test.h"
#include "mcp/options.h"
#include "mcp/tools.h"

namespace sorvane::mcp {
namespace {

using namespace std::chrono_literals;

const Json EXEC = {{"host", "h"}, {"command", "x"}};
const Json UPLOAD = {{"host", "h"}, {"local", "l"}, {"remote", "r"}};

struct Timed {
  ManualClock clock;
  Call call;
  Options options;

  explicit Timed(Call::Beat beat = {})
      : call({.record = nullptr, .clock = &clock, .beat = std::move(beat), .stopped = [this] {
                clock.stop();
              }}) {
    options.timeout_seconds = 5;
  }
  Json run(ToolId tool, const Json& arguments, const Converse& converse) {
    return call_tool_result(call_tool(tool, arguments, options, converse, call));
  }
};

// Whatever the tool, the limit passing with no reply stops the call as timed
// out and the call says so; a reply that came just as it passed is the
// result, and the call is still answered.
TEST(Call, TheTimeLimitStopsTheCallButAReplyAtTheDeadlineIsTheResult) {
  Reply::Hosts hosts;
  hosts.hosts.push_back({"h", "web", std::nullopt, "u", "10.0.0.1", 22, std::nullopt});
  struct Case {
    ToolId tool;
    Json arguments;
    Reply reply;
    const char* member;  // of the reply's structured result
    Json expected;
  };
  const std::vector<Case> cases = {
      {ToolId::Exec, EXEC, Reply{Reply::Exit{3}}, "exit_code", 3},
      {ToolId::ListHosts, Json::object(), Reply{hosts}, "hosts", Json::array({"web"})},
      {ToolId::Upload, UPLOAD, Reply{Reply::TransferDone{{1, 9, 0, 0, {}}}}, "bytes", 9},
  };
  for (const Case& c : cases) {
    for (const bool replied : {true, false}) {
      SCOPED_TRACE(std::string(tool_name(c.tool)) + (replied ? " replied" : " silent"));
      Timed timed;
      const Json result = timed.run(c.tool, c.arguments, [&](const Request&, ConversationEvents&) {
        timed.clock.advance(5s);  // exactly the limit: the timer stops the call
        EXPECT_TRUE(timed.call.cancellation().cancelled());
        if (replied) return FinalReply(c.reply);
        return FinalReply(fail(connection_broken("shut down")));
      });
      EXPECT_TRUE(timed.call.timed_out());
      EXPECT_FALSE(timed.call.cancelled());
      const Json& structured = result.value("structuredContent", Json());
      if (replied) {
        Json got = structured.at(c.member);
        if (c.tool == ToolId::ListHosts) got = Json::array({got.at(0).at("name")});
        EXPECT_EQ(got, c.expected);
        EXPECT_FALSE(structured.contains("timed_out"));
      } else if (c.tool == ToolId::Exec) {
        EXPECT_EQ(structured.at("timed_out"), true);
      } else {
        EXPECT_EQ(result.at("isError"), true);
        EXPECT_NE(result.at("content").at(0).at("text").get<std::string>().find("timed out"),
                  std::string::npos);
      }
    }
  }
}

// The heartbeat beats once per interval of the call's clock, with the output
// so far and a progress that grows even when the output does not.
TEST(Call, TheHeartbeatBeatsAtItsIntervalOnTheCallsClock) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> beats;
  Timed timed([&](std::uint64_t progress, std::uint64_t received) {
    beats.emplace_back(progress, received);
  });
  timed.options.timeout_seconds = 3600;
  const Json result =
      timed.run(ToolId::Exec, EXEC, [&](const Request&, ConversationEvents& events) {
        EXPECT_TRUE(events.output(RemoteStream::Stdout, as_bytes(std::string("12345"))));
        timed.clock.advance(HEARTBEAT_INTERVAL - 1s);
        EXPECT_TRUE(beats.empty());
        timed.clock.advance(1s);
        EXPECT_TRUE(events.output(RemoteStream::Stdout, as_bytes(std::string("678"))));
        timed.clock.advance(HEARTBEAT_INTERVAL);
        timed.clock.advance(HEARTBEAT_INTERVAL);
        return FinalReply(Reply{Reply::Exit{0}});
      });
  EXPECT_EQ(result["structuredContent"]["exit_code"], 0);
  EXPECT_EQ(beats, (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{5, 5}, {8, 8}, {9, 8}}));
}

// The first reason to stop is the one kept: a call the client cancelled is
// not answered, even when its limit passes after.
TEST(Call, TheFirstStopDecides) {
  Timed timed;
  timed.call.stop(Call::Stop::Cancelled);
  timed.call.stop(Call::Stop::TimedOut);
  EXPECT_TRUE(timed.call.cancelled());
  EXPECT_TRUE(timed.call.fleet_stop().stopped());
  EXPECT_FALSE(timed.call.timed_out());
}

}  // namespace
}  // namespace sorvane::mcp
