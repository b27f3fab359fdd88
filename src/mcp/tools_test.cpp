#include "mcp/tools.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

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

Json exec(FakeDesktop& desktop, const Options& options,
          const Json& arguments = {{"host", "h"}, {"command", "x"}}) {
  return call_tool(ToolId::Exec, arguments, options, desktop.converse(), {});
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
        call_tool(ToolId::Download, {{"host", "h"}, {"remote", "r"}, {"local", "l"}}, Options{},
                  desktop.converse(), {});
    EXPECT_EQ(result["isError"], failed > 0);
    EXPECT_EQ(result["structuredContent"]["failed"], failed);
  }
}

}  // namespace
}  // namespace sorvane::mcp
