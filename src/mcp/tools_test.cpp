#include "mcp/tools.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "ipc/frame.h"
#include "mcp/call.h"
#include "mcp/manual_clock_test.h"
#include "mcp/options.h"

namespace sorvane::mcp {
namespace {

// A stand-in conversation: hands over the output chunks and progress, then
// the final reply; remembers the requests.
struct FakeDesktop {
  std::vector<std::pair<RemoteStream, std::string>> output;
  std::vector<TransferCounters> progress;
  FinalReply reply = Reply{Reply::Exit{0}};
  int conversations = 0;

  Converse converse() {
    return [this](const Request&, ConversationEvents& events) -> FinalReply {
      ++conversations;
      for (const auto& [stream, bytes] : output) {
        if (auto handled = events.output(stream, as_bytes(bytes)); !handled) {
          return fail(connection_broken(handled.error().text));
        }
      }
      for (const auto& counters : progress) events.progress(counters);
      return reply;
    };
  }
};

// The call as its client receives it.
Json call_json(ToolId tool, const Json& arguments, const Options& options, const Converse& converse,
               const CallHooks& hooks = {}, Call::Settings settings = {}) {
  Call call(std::move(settings));
  return call_tool_result(call_tool(tool, arguments, options, converse, call, hooks));
}

Json exec(FakeDesktop& desktop, const Options& options,
          const Json& arguments = {{"host", "h"}, {"command", "x"}}) {
  return call_json(ToolId::Exec, arguments, options, desktop.converse());
}

TEST(ExecTool, CapturesEachStreamUpToTheLimitAndRepairsUtf8) {
  FakeDesktop desktop;
  desktop.output = {{RemoteStream::Stdout, "abc"},
                    {RemoteStream::Stderr, "\xe4\xbd"},  // a character cut short
                    {RemoteStream::Stdout, "defg"},
                    {RemoteStream::Stdout, "h"}};
  desktop.reply = Reply{Reply::Exit{300}};
  Options options;
  options.max_output = 5;
  const Json result = exec(desktop, options);
  EXPECT_EQ(result["isError"], false);
  EXPECT_EQ(result["structuredContent"],
            Json::parse(R"({"exit_code":300,"stdout":"abcgh","stderr":"\ufffd",
                            "stdout_truncated":true,"stderr_truncated":false,
                            "stdout_omitted":3,"stderr_omitted":0})"));
  EXPECT_EQ(Json::parse(result["content"][0]["text"].get<std::string>()),
            result["structuredContent"]);
}

// Any way of cutting a stream into chunks keeps exactly its first and last
// halves of the limit, with the count of what was left out.
TEST(ExecTool, KeepsHeadAndTailWhateverTheChunks) {
  std::mt19937 random(17);
  for (int round = 0; round < 200; ++round) {
    const std::uint64_t limit = random() % 40;
    std::string stream;
    FakeDesktop desktop;
    for (std::size_t chunks = random() % 8; chunks > 0; --chunks) {
      std::string chunk(random() % 30, ' ');
      for (char& byte : chunk) byte = static_cast<char>('a' + random() % 26);
      stream += chunk;
      desktop.output.emplace_back(RemoteStream::Stdout, chunk);
    }
    Options options;
    options.max_output = limit;
    const Json out = exec(desktop, options)["structuredContent"];
    const std::size_t head = limit - limit / 2;
    const std::string expected =
        stream.size() <= limit ? stream
                               : stream.substr(0, head) + stream.substr(stream.size() - limit / 2);
    ASSERT_EQ(out["stdout"], expected) << "limit " << limit << ", stream " << stream;
    EXPECT_EQ(out["stdout_omitted"], stream.size() > limit ? stream.size() - limit : 0);
    EXPECT_EQ(out["stdout_truncated"], stream.size() > limit);
  }
}

TEST(ExecTool, RepairsCharactersCutAtEitherEnd) {
  struct Case {
    std::uint64_t limit;
    std::string kept;
  };
  for (const Case& c : {Case{8, "\xe4\xbd\xa0xz\xe5\xa5\xbd"},  // 你x, z好: whole characters
                        Case{4, "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"}}) {  // three U+FFFD
    FakeDesktop desktop;
    desktop.output = {{RemoteStream::Stderr, "\xe4\xbd\xa0xyz\xe5\xa5\xbd"}};  // 你xyz好
    Options options;
    options.max_output = c.limit;
    const Json out = exec(desktop, options)["structuredContent"];
    EXPECT_EQ(out["stderr"], c.kept) << c.limit;
    EXPECT_EQ(out["stderr_omitted"], 9 - c.limit);
  }
}

TEST(Tools, FailuresAreErrorResultsWithTheErrorLine) {
  struct Case {
    const char* what;
    FinalReply reply;
    Json arguments;
    std::string text;
    int conversations;
  };
  Options options;
  options.hosts = std::set<std::string>{"h"};
  const Json fine = {{"host", "h"}, {"command", "x"}};
  std::vector<Case> cases;
  cases.push_back({"error reply", Reply{Reply::Error{ErrorCode::HostKeyChanged, "key!"}}, fine,
                   "sorvane: [host_key_changed] key!", 1});
  cases.push_back({"broken", fail(connection_broken("unexpected end of file")), fine,
                   "sorvane: [connect_failed] 与 Sorvane 的连接意外中断：unexpected end of file",
                   1});
  cases.push_back(
      {"reply of another kind", Reply{Reply::Hosts{}}, fine,
       "sorvane: [connect_failed] 与 Sorvane 的连接意外中断：unexpected reply for this tool", 1});
  cases.push_back({"host not allowed",
                   Reply{Reply::Exit{0}},
                   {{"host", "other"}, {"command", "x"}},
                   "sorvane: [host_not_found] 主机 other 不在 --hosts 允许的范围内",
                   0});
  cases.push_back({"empty command",
                   Reply{Reply::Exit{0}},
                   {{"host", "h"}, {"command", " "}},
                   "sorvane: [bad_request] 命令不能为空",
                   0});
  cases.push_back({"missing argument",
                   Reply{Reply::Exit{0}},
                   {{"host", "h"}},
                   "sorvane: [bad_request] invalid arguments: `command` is required",
                   0});
  cases.push_back({"unknown arguments",
                   Reply{Reply::Exit{0}},
                   {{"host", "h"}, {"command", "x"}, {"timeout", 5}, {"cwd", "/"}},
                   "sorvane: [bad_request] invalid arguments: unknown argument `timeout`, `cwd`",
                   0});
  cases.push_back({"NUL in the command",
                   Reply{Reply::Exit{0}},
                   {{"host", "h"}, {"command", std::string("ls\0; rm x", 9)}},
                   "sorvane: [bad_request] invalid arguments: `command` contains a NUL character",
                   0});
  for (const auto& [what, arguments, why] : std::vector<std::tuple<const char*, Json, std::string>>{
           {"no host", {{"command", "x"}}, "give exactly one of `host`, `hosts` and `query`"},
           {"host and hosts",
            {{"host", "h"}, {"hosts", {"h"}}, {"command", "x"}},
            "give exactly one of `host`, `hosts` and `query`"},
           {"hosts and query",
            {{"query", "web"}, {"hosts", {"h"}}, {"command", "x"}},
            "give exactly one of `host`, `hosts` and `query`"},
           {"no hosts",
            {{"hosts", Json::array()}, {"command", "x"}},
            "`hosts` must be a list of host IDs"},
           {"hosts not text",
            {{"hosts", {7}}, {"command", "x"}},
            "`hosts` must be a list of host IDs"}}) {
    cases.push_back({what, Reply{Reply::Exit{0}}, arguments,
                     "sorvane: [bad_request] invalid arguments: " + why, 0});
  }
  for (Case& c : cases) {
    FakeDesktop desktop;
    desktop.reply = c.reply;
    const Json result = exec(desktop, options, c.arguments);
    EXPECT_EQ(result["isError"], true) << c.what;
    EXPECT_FALSE(result.contains("structuredContent")) << c.what;
    EXPECT_EQ(result["content"][0]["text"], c.text) << c.what;
    EXPECT_EQ(desktop.conversations, c.conversations) << c.what;
  }
}

TEST(TransferTools, AnyFailedFileMakesAnErrorThatKeepsTheSummary) {
  for (const std::uint64_t failed : {0, 1}) {
    FakeDesktop desktop;
    TransferSummary summary;
    summary.failed = failed;
    desktop.reply = Reply{Reply::TransferDone{summary}};
    const Json result =
        call_json(ToolId::Download, {{"host", "h"}, {"remote", "r"}, {"local", "l"}}, Options{},
                  desktop.converse());
    EXPECT_EQ(result["isError"], failed > 0);
    EXPECT_EQ(result["structuredContent"]["failed"], failed);
  }
}

// The desktop application's host list, and a fleet in which each host
// prints what `outputs` gives for it and exits with the code given.
struct FakeFleet {
  std::map<std::string, std::pair<std::string, std::int32_t>> outputs;
  FleetPlan plan;
  std::vector<HostLabel> admitted;

  CallHooks hooks() {
    CallHooks hooks;
    hooks.admit_fleet = [this](const Request&, const std::vector<HostLabel>& hosts,
                               const Result<std::vector<HostInfo>, ToolError>&) {
      admitted = hosts;
      return std::optional<ToolError>();
    };
    hooks.run_fleet = [this](const FleetPlan& given, const std::string& command,
                             FleetObserver& observer, FleetStop&) {
      EXPECT_EQ(command, "uptime");
      plan = given;
      for (std::size_t i = 0; i < given.hosts.size(); ++i) {
        const auto& [text, code] = outputs.at(given.hosts[i].id);
        EXPECT_TRUE(observer.events(i).output(RemoteStream::Stdout, as_bytes(text)));
        observer.ended(i, HostOutcome{code, std::nullopt});
      }
      return std::vector<HostOutcome>(given.hosts.size());
    };
    return hooks;
  }
};

Converse listing(const std::vector<std::string>& names) {
  return [names](const Request& request, ConversationEvents&) -> FinalReply {
    EXPECT_TRUE(std::holds_alternative<Request::List>(request.member));
    Reply::Hosts hosts;
    for (const std::string& name : names) {
      hosts.hosts.push_back({"id-" + name, name, std::nullopt, "u", "10.0.0.1", 22, std::nullopt});
    }
    return Reply{hosts};
  };
}

// Hosts named, refused or unknown keep their order; identical results fold
// into one group, with the output once in the text.
TEST(FleetExec, ResultsPerHostAndIdenticalOnesFolded) {
  FakeFleet fleet;
  fleet.outputs = {{"id-web-1", {"up 3 days\n", 0}},
                   {"id-web-2", {"up 3 days\n", 0}},
                   {"id-db", {"up 1 day\n", 1}}};
  Options options;
  options.parallel = 3;
  options.hosts = std::set<std::string>{"id-web-1", "id-web-2", "id-db", "id-gone"};
  const Json arguments = {
      {"hosts", {"id-web-1", "id-db", "id-hidden", "id-web-2", "id-gone", "id-db"}},
      {"command", "uptime"}};
  const Json result = call_json(ToolId::Exec, arguments, options,
                                listing({"web-1", "web-2", "db", "hidden"}), fleet.hooks());
  EXPECT_EQ(result["isError"], false);
  EXPECT_EQ(fleet.plan.parallel, 3U);
  ASSERT_EQ(fleet.admitted.size(), 3U);
  EXPECT_EQ(fleet.admitted[1].id, "id-db");
  const Json& structured = result["structuredContent"];
  std::vector<std::string> ids;
  for (const Json& host : structured["results"]) ids.push_back(host["id"].get<std::string>());
  EXPECT_EQ(ids,
            (std::vector<std::string>{"id-web-1", "id-db", "id-hidden", "id-web-2", "id-gone"}));
  EXPECT_EQ(structured["results"][2]["error"],
            "sorvane: [host_not_found] 主机 id-hidden 不在 --hosts 允许的范围内");
  EXPECT_EQ(structured["results"][4]["error"],
            "sorvane: [host_not_found] no saved host has the ID id-gone");
  EXPECT_EQ(structured["results"][4]["name"], nullptr);
  EXPECT_EQ(structured["groups"].size(), 4U);
  EXPECT_EQ(
      structured["groups"][0],
      Json::parse(R"({"hosts":[{"id":"id-web-1","name":"web-1"},{"id":"id-web-2","name":"web-2"}],
                            "exit_code":0,"timed_out":false,"stdout":"up 3 days\n","stderr":"",
                            "stdout_omitted":0,"stderr_omitted":0,"error":null,"cut":false})"));
  const std::string text = result["content"][0]["text"].get<std::string>();
  EXPECT_EQ(text.substr(0, text.find("== 1 host: db")),
            "5 hosts in 4 groups\n== 2 hosts: web-1 (id-web-1), web-2 (id-web-2) — exit 0\n"
            "-- stdout\nup 3 days\n");
}

// Past the bound, whole items lose their output, groups first and then
// results, and the counts say how many.
TEST(FleetExec, OutputPastTheBoundIsCutAndCounted) {
  FakeFleet fleet;
  Options options;
  options.max_output = 4;  // the bound: 16 bytes
  Json hosts = Json::array();
  for (const char* name : {"a", "b", "c", "d", "e"}) {
    fleet.outputs["id-" + std::string(name)] = {std::string(4, name[0]), 0};
    hosts.push_back("id-" + std::string(name));
  }
  const Json result = call_json(ToolId::Exec, {{"hosts", hosts}, {"command", "uptime"}}, options,
                                listing({"a", "b", "c", "d", "e"}), fleet.hooks());
  const Json& structured = result["structuredContent"];
  EXPECT_EQ(structured["groups_cut"], 1);
  EXPECT_EQ(structured["results_cut"], 5);
  EXPECT_EQ(structured["groups"][3]["stdout"], "dddd");
  EXPECT_EQ(structured["groups"][4]["stdout"], "");
  EXPECT_EQ(structured["groups"][4]["cut"], true);
  EXPECT_EQ(structured["results"][0]["cut"], true);
  EXPECT_EQ(structured["results"][0]["exit_code"], 0);
}

// A query runs what the desktop application finds, less what the operator
// hides; a call where no host could run is an error, and nothing runs.
TEST(FleetExec, QueryChoosesAndNothingRunnableIsAnError) {
  FakeFleet fleet;
  fleet.outputs = {{"id-web-1", {"", 0}}};
  Options options;
  options.hosts = std::set<std::string>{"id-web-1"};
  Json result = call_json(ToolId::Exec, {{"query", "web"}, {"command", "uptime"}}, options,
                          listing({"web-1", "web-2"}), fleet.hooks());
  EXPECT_EQ(result["structuredContent"]["results"].size(), 1U);
  EXPECT_EQ(result["isError"], false);

  fleet.plan = {};
  result = call_json(ToolId::Exec, {{"hosts", {"id-web-2"}}, {"command", "uptime"}}, options,
                     listing({"web-1", "web-2"}), fleet.hooks());
  EXPECT_EQ(result["isError"], true);
  EXPECT_TRUE(fleet.plan.hosts.empty());
  result = call_json(ToolId::Exec, {{"query", "db"}, {"command", "uptime"}}, options, listing({}),
                     fleet.hooks());
  EXPECT_EQ(result["content"][0]["text"], "sorvane: [host_not_found] 没有与查询「db」匹配的主机");
}

// The desktop application's side of a call, one byte per read, 50 ms apart
// on the clock. After `stall_after` bytes nothing more comes; `endless`
// repeats the reply for ever. Either way the reader ends only when the
// call's time limit stops it, as shutting the connection down does.
class TricklingDesktop final : public ByteReader, public ByteWriter {
 public:
  static constexpr auto GAP = std::chrono::milliseconds(50);

  TricklingDesktop(ManualClock& clock, std::string reply, std::size_t stall_after, bool endless)
      : clock_(clock), reply_(std::move(reply)), stall_after_(stall_after), endless_(endless) {}

  IoResult<std::size_t> read_some(MutableByteSpan buffer) override {
    if (sent_ == stall_after_ || (sent_ == reply_.size() && !endless_)) return stall();
    if (stopped()) return std::size_t{0};
    clock_.advance(GAP);
    buffer[0] = static_cast<std::uint8_t>(reply_[sent_++ % reply_.size()]);
    return std::size_t{1};
  }
  IoResult<std::size_t> write_some(ByteSpan bytes) override { return bytes.size(); }

  void stop() {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  bool stopped() {
    const std::lock_guard lock(mutex_);
    return stopped_;
  }
  IoResult<std::size_t> stall() {
    clock_.advance(std::chrono::hours(1));
    std::unique_lock lock(mutex_);
    // Bounded only so that a broken timer fails the test instead of hanging it.
    if (!changed_.wait_for(lock, std::chrono::seconds(60), [this] { return stopped_; })) {
      return fail(IoError{IoErrorKind::Os, "never stopped"});
    }
    return std::size_t{0};
  }

  ManualClock& clock_;
  std::string reply_;
  std::size_t stall_after_;
  bool endless_;
  std::size_t sent_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopped_ = false;
};

std::string frame_bytes(FrameKind kind, std::string_view payload) {
  struct Collect final : ByteWriter {
    IoResult<std::size_t> write_some(ByteSpan bytes) override {
      text.append(bytes.begin(), bytes.end());
      return bytes.size();
    }
    std::string text;
  } out;
  EXPECT_TRUE(write_frame(out, kind, as_bytes(payload)));
  return out.text;
}

// The call's time limit stops the fleet: a host it stopped mid-run timed
// out with the output it had, one it kept from starting was not run.
TEST(FleetExec, TheTimeLimitStopsTheFleet) {
  ManualClock clock;
  std::mutex mutex;
  std::condition_variable changed;
  bool stopped = false;
  Call::Settings settings;
  settings.clock = &clock;
  settings.stopped = [&] {
    clock.stop();
    const std::lock_guard lock(mutex);
    stopped = true;
    changed.notify_all();
  };
  CallHooks hooks;
  hooks.run_fleet = [&](const FleetPlan&, const std::string&, FleetObserver& observer, FleetStop&) {
    EXPECT_TRUE(observer.events(0).output(RemoteStream::Stdout, as_bytes(std::string("started"))));
    clock.advance(std::chrono::seconds(2));
    std::unique_lock lock(mutex);
    // Bounded only so that a broken timer fails the test instead of hanging it.
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return stopped; }));
    observer.ended(0, {std::nullopt, connection_broken("shut down")});
    observer.ended(
        1, {std::nullopt, ToolError{ErrorCode::ConnectFailed, "not run: stopped"}, false, true});
    return std::vector<HostOutcome>(2);
  };
  Options options;
  options.timeout_seconds = 1;
  const Json result = call_json(ToolId::Exec, {{"hosts", {"id-a", "id-b"}}, {"command", "uptime"}},
                                options, listing({"a", "b"}), hooks, settings);
  const Json& results = result["structuredContent"]["results"];
  EXPECT_EQ(result["isError"], false);
  EXPECT_EQ(results[0]["timed_out"], true);
  EXPECT_EQ(results[0]["stdout"], "started");
  EXPECT_EQ(results[0]["error"], nullptr);
  EXPECT_EQ(results[1]["timed_out"], false);
  EXPECT_EQ(results[1]["error"], "sorvane: [connect_failed] not run: stopped");
}

// An idle limit restarts on every byte, so a reply that trickles in slower
// than the limit per frame still completes; silence still ends the call with
// the limit's message. exec's limit is on the whole run, however much it prints.
TEST(CallTimeLimits, AnIdleLimitRestartsOnEveryByteAndAWholeRunLimitDoesNot) {
  const std::string hosts = frame_bytes(
      FrameKind::Json,
      R"({"type":"hosts","hosts":[{"id":"h","name":"web","user":"u","host":"10.0.0.1","port":22}]})");
  const std::string transfer =
      frame_bytes(FrameKind::Json,
                  R"({"type":"progress","files":0,"total_files":1,"bytes":0,"total_bytes":9})") +
      frame_bytes(FrameKind::Json,
                  R"({"type":"transfer_done","files":1,"bytes":9,"skipped":0,"failed":0,)"
                  R"("failures":[]})");
  const Json upload = {{"host", "h"}, {"local", "l"}, {"remote", "r"}};
  constexpr std::size_t NEVER = std::string::npos;
  struct Case {
    const char* what;
    ToolId tool;
    Json arguments;
    std::uint64_t timeout_seconds;
    std::string reply;
    std::size_t stall_after;
    bool endless;
    std::string error_line;  // empty: a result
  };
  const std::vector<Case> cases = {
      {"list_hosts trickling", ToolId::ListHosts, Json::object(), 1, hosts, NEVER, false, ""},
      {"upload trickling", ToolId::Upload, upload, 2, transfer, NEVER, false, ""},
      {"list_hosts stalled", ToolId::ListHosts, Json::object(), 1, hosts, 7, false,
       "sorvane: [connect_failed] timed out: nothing arrived from the desktop application for 1 "
       "seconds"},
      {"upload stalled", ToolId::Upload, upload, 2, transfer, 90, false,
       "sorvane: [transfer_failed] timed out: nothing arrived from the desktop application for 2 "
       "seconds"},
      {"exec printing for ever", ToolId::Exec,
       Json{{"host", "h"}, {"command", "yes"}, {"timeout_seconds", 1U}}, 60,
       frame_bytes(FrameKind::Stdout, "y\n"), NEVER, true, ""},
  };
  for (const Case& c : cases) {
    ManualClock clock;
    TricklingDesktop desktop(clock, c.reply, c.stall_after, c.endless);
    Options options;
    options.timeout_seconds = c.timeout_seconds;
    Call::Settings settings;
    settings.stopped = [&] {
      clock.stop();
      desktop.stop();
    };
    settings.clock = &clock;
    const Converse trickled = [&desktop](const Request& request, ConversationEvents& events) {
      return converse(desktop, desktop, request, events);
    };
    const Json result = call_json(c.tool, c.arguments, options, trickled, {}, settings);
    SCOPED_TRACE(std::string(c.what) + ": " + result.dump());
    if (!c.error_line.empty()) {
      EXPECT_EQ(result.at("content").at(0).at("text"), c.error_line);
    } else if (c.tool == ToolId::Exec) {
      EXPECT_EQ(result.value("structuredContent", Json::object()).value("timed_out", false), true);
      EXPECT_GE(clock.now().time_since_epoch(), std::chrono::seconds(1));
    } else {
      EXPECT_EQ(result.at("isError"), false);
    }
  }
}

}  // namespace
}  // namespace sorvane::mcp
