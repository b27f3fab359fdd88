#include "cli/fan_out.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "output/recording_stream_for_tests.h"

namespace sorvane {
namespace {

HostInfo host(std::string id, std::string name) {
  return {std::move(id), std::move(name), {}, "u", "h", 22, {}};
}

std::vector<std::string> labels(const std::vector<HostLabel>& hosts) {
  std::vector<std::string> shown(hosts.size());
  std::transform(hosts.begin(), hosts.end(), shown.begin(),
                 [](const HostLabel& chosen) { return chosen.id + "=" + chosen.label; });
  return shown;
}

TEST(ChooseHosts, ByIdsOrQueryLabelledByNameUnlessShared) {
  const std::vector<HostInfo> known = {host("a", "web"), host("b", "db"), host("c", "db"),
                                       host("d", "")};
  std::optional<std::string> asked;
  const HostLister lister = [&](const std::optional<std::string>& query) {
    asked = query;
    return Result<std::vector<HostInfo>, ToolError>(known);
  };
  Cli::Exec by_ids;
  by_ids.id = "b,,x, a ,b,d";
  auto chosen = choose_hosts(by_ids, lister);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(labels(*chosen), (std::vector<std::string>{"b=db", "x=x", "a=web", "d=d"}));
  EXPECT_FALSE(asked.has_value());
  EXPECT_FALSE((*chosen)[1].name.has_value());  // unknown to the desktop application

  Cli::Exec by_query;
  by_query.query = "q";
  chosen = choose_hosts(by_query, lister);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(asked, "q");
  EXPECT_EQ(labels(*chosen), (std::vector<std::string>{"a=web", "b=b", "c=c", "d=d"}));

  Cli::Exec none;
  none.id = ",";
  EXPECT_EQ(choose_hosts(none, lister).error().code, ErrorCode::BadRequest);
  const HostLister empty = [](const auto&) {
    return Result<std::vector<HostInfo>, ToolError>(std::vector<HostInfo>{});
  };
  EXPECT_EQ(choose_hosts(by_query, empty).error().code, ErrorCode::HostNotFound);

  // Names cannot be had: the IDs run under their own; a query has nothing to run.
  const HostLister failing = [](const auto&) {
    return Result<std::vector<HostInfo>, ToolError>(fail(connection_broken("timed out")));
  };
  chosen = choose_hosts(by_ids, failing);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(labels(*chosen), (std::vector<std::string>{"b=b", "x=x", "a=a", "d=d"}));
  EXPECT_EQ(choose_hosts(by_query, failing).error().code, ErrorCode::ConnectFailed);

  Cli::Exec empty_query;
  empty_query.query = " ";
  EXPECT_EQ(choose_hosts(empty_query, lister).error().code, ErrorCode::BadRequest);
  EXPECT_EQ(asked, "q");  // not asked again
}

// Whatever the names, even another host's ID or a label made of one, no
// label reads like another chosen host's label or ID (every choice of four).
TEST(ChooseHosts, NoLabelLooksLikeAnotherHost) {
  const std::string ids[] = {"a", "b", "c", "d"};
  const std::string names[] = {"", "a", "dup", "a (c)", "a (c) (d)", "b (a)"};
  const auto choose = [](const std::vector<HostInfo>& known) {
    return *choose_hosts(HostChoice{{}, "q"}, [&](const auto&) { return HostList(known); });
  };
  for (int choice = 0; choice < 6 * 6 * 6 * 6; ++choice) {
    std::vector<HostInfo> known;
    for (int i = 0, rest = choice; i < 4; ++i, rest /= 6)
      known.push_back(host(ids[i], names[rest % 6]));
    const std::vector<HostLabel> chosen = choose(known);
    for (const HostLabel& x : chosen) {
      for (const HostLabel& y : chosen) {
        if (&x == &y) continue;
        ASSERT_TRUE(x.label != y.label && x.label != y.id) << x.label;
      }
    }
  }
  EXPECT_EQ(labels(choose({host("a", "dup"), host("b", "dup"), host("c", "a")})),
            (std::vector<std::string>{"a=a", "b=b", "c=a (c)"}));
}

// Hosts one after another (--parallel 1), so the output is exact: partial
// lines ended at the host's end, the error line behind the name, the status.
TEST(FanOut, LinesErrorsAndStatus) {
  struct Script {
    std::vector<std::pair<RemoteStream, std::string>> chunks;
    FinalReply reply;
  };
  std::map<std::string, Script> scripts;
  scripts.emplace("a", Script{{{RemoteStream::Stdout, "one\ntw"},
                               {RemoteStream::Stderr, "warn"},
                               {RemoteStream::Stdout, "o\nthree"}},
                              Reply{Reply::Exit{0}}});
  scripts.emplace("b", Script{{{RemoteStream::Stdout, "half"}},
                              fail(connection_broken("unexpected end of file"))});
  scripts.emplace("c", Script{{}, Reply{Reply::Exit{3}}});
  const HostConversation converse = [&](std::string_view host, ConversationEvents& events) {
    const Script& script = scripts.at(std::string(host));
    for (const auto& [stream, text] : script.chunks) {
      if (!events.output(stream, as_bytes(text))) return outcome_of(fail(connection_broken("")));
    }
    return outcome_of(script.reply);
  };
  FanOutPlan plan;
  plan.hosts = {{"a", "web", "web"}, {"b", "db", "db"}, {"c", std::nullopt, "c"}};
  plan.parallel = 1;
  plan.summary = true;

  testing::RecordedStreams text(false);
  EXPECT_EQ(fan_out(plan, converse, text.streams), 255U);
  EXPECT_EQ(text.out.text, "web: one\nweb: two\nweb: three\ndb: half\n");
  EXPECT_EQ(text.err.text,
            "web: warn\n"
            "db: sorvane: [connect_failed] 与 Sorvane 的连接意外中断：unexpected end of file\n"
            "3 台主机中 1 台成功；失败：db（connect_failed）、c（退出码 3）\n");

  plan.json = true;
  plan.summary = false;
  plan.max_output = 4;
  testing::RecordedStreams json(false);
  EXPECT_EQ(fan_out(plan, converse, json.streams), 255U);
  EXPECT_EQ(
      json.out.text,
      R"({"id":"a","name":"web","exit_code":0,"stdout":"one\n","stderr":"warn",)"
      R"("stdout_truncated":true,"stderr_truncated":false,"error":null,"timed_out":false})"
      "\n"
      R"({"id":"b","name":"db","exit_code":null,"stdout":"half","stderr":"",)"
      R"("stdout_truncated":false,"stderr_truncated":false,)"
      R"("error":"sorvane: [connect_failed] 与 Sorvane 的连接意外中断：unexpected end of file",)"
      R"("timed_out":false})"
      "\n"
      R"({"id":"c","name":null,"exit_code":3,"stdout":"","stderr":"",)"
      R"("stdout_truncated":false,"stderr_truncated":false,"error":null,"timed_out":false})"
      "\n");
  EXPECT_EQ(json.err.text, "");

  scripts.erase("b");
  plan.hosts.erase(plan.hosts.begin() + 1);
  testing::RecordedStreams ran(false);
  EXPECT_EQ(fan_out(plan, converse, ran.streams), 1U);  // every host ran, one exited 3
}

}  // namespace
}  // namespace sorvane
