#include "output/console_conversation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ipc/frame.h"
#include "output/recording_stream_for_tests.h"

namespace sorvane {
namespace {

// What the desktop application sends, delivered in small reads.
class ScriptedPeer : public ByteReader, public ByteWriter {
 public:
  explicit ScriptedPeer(std::string bytes, std::size_t chunk = 7)
      : incoming_(std::move(bytes)), chunk_(chunk) {}

  IoResult<std::size_t> read_some(MutableByteSpan buffer) override {
    std::size_t n = std::min({buffer.size(), chunk_, incoming_.size() - position_});
    std::copy_n(incoming_.data() + position_, n, buffer.data());
    position_ += n;
    return n;
  }
  IoResult<std::size_t> write_some(ByteSpan bytes) override {
    sent.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return bytes.size();
  }

  std::string sent;

 private:
  std::string incoming_;
  std::size_t chunk_;
  std::size_t position_ = 0;
};

std::string frame(char kind, std::string_view payload) {
  std::string bytes(1, kind);
  auto length = static_cast<std::uint32_t>(payload.size());
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>(length >> shift));
  return bytes.append(payload);
}
std::string json(std::string_view payload) { return frame('J', payload); }
std::string out(std::string_view payload) { return frame('1', payload); }
std::string err(std::string_view payload) { return frame('2', payload); }

struct Outcome {
  std::uint32_t status;
  std::string out;
  std::string err;
  std::string sent;
};

struct Options {
  bool json = false;
  bool progress = false;
  bool terminal = false;
  bool stdout_broken = false;
};

Outcome run_conversation_with(std::string peer_bytes, Options options = {},
                              const Request& request = Request{Request::Exec{"abc", "uptime"}}) {
  ScriptedPeer peer(std::move(peer_bytes));
  testing::RecordingStream out_stream;
  testing::RecordingStream err_stream;
  out_stream.fail_writes = options.stdout_broken;
  ConsoleSink out_sink(out_stream, options.terminal);
  ConsoleSink err_sink(err_stream, options.terminal);
  OutputStreams streams{out_sink, err_sink, options.json, options.progress};
  std::uint32_t status = run_conversation(peer, peer, request, streams);
  out_sink.finish();
  err_sink.finish();
  return {status, out_stream.text, err_stream.text, peer.sent};
}

const std::string BROKEN = "sorvane: [connect_failed] 与 Sorvane 的连接意外中断：";

TEST(Conversation, SendsTheRequestAsOneJsonFrame) {
  Outcome run = run_conversation_with(json(R"({"type":"exit","code":0})"));
  EXPECT_EQ(run.sent,
            json(R"({"version":2,"request":{"type":"exec","host":"abc","command":"uptime"}})"));
}

TEST(Conversation, FinalRepliesGiveTheirStatus) {
  struct Case {
    std::string peer;
    std::uint32_t status;
    std::string out;
    std::string err;
  } cases[] = {
      {err("warning\n") + json(R"({"type":"exit","code":0})"), 0, "", "warning\n"},
      {json(R"({"type":"exit","code":3})"), 3, "", ""},
      {json(R"({"type":"exit","code":-1})"), 0xFFFFFFFFu, "", ""},
      {json(R"({"type":"exit","code":300})"), 300, "", ""},
      {json(R"({"type":"activated"})"), 0, "", ""},
      {json(R"({"type":"error","code":"host_not_found","message":"没有这个主机"})"), 255, "",
       "sorvane: [host_not_found] 没有这个主机\n"},
      {json(R"({"type":"error","code":"not_running","message":""})"), 255, "",
       "sorvane: [not_running] \n"},
      {json(R"({"type":"transfer_done","files":1,"bytes":0,"skipped":5,"failed":0,"failures":[]})"),
       0, "已传输 1 个文件，共 0 B，跳过 5 个\n", ""},
      {json(
           R"({"type":"transfer_done","files":1,"bytes":0,"skipped":0,"failed":1,"failures":["x"]})"),
       1, "已传输 1 个文件，共 0 B，失败 1 个\n", "x\n"},
      {json(R"({"type":"hosts","hosts":[]})"), 0, "", "没有匹配的主机\n"},
  };
  for (const Case& c : cases) {
    Outcome run = run_conversation_with(c.peer);
    EXPECT_EQ(run.status, c.status) << c.peer;
    EXPECT_EQ(run.out, c.out) << c.peer;
    EXPECT_EQ(run.err, c.err) << c.peer;
  }
}

TEST(Conversation, JsonFormOfFinalRepliesKeepsItsStatus) {
  Outcome run = run_conversation_with(
      json(R"({"type":"transfer_done","files":0,"bytes":0,"skipped":0,"failed":2,"failures":[]})"),
      Options{.json = true});
  EXPECT_EQ(run.status, 1u);
  EXPECT_NE(run.out.find("\"failed\": 2"), std::string::npos);
}

TEST(Conversation, OutputFramesPassThroughInOrder) {
  Outcome run = run_conversation_with(out("a\n") + err("b\n") + out("") + out("c") +
                                      json(R"({"type":"exit","code":0})"));
  EXPECT_EQ(run.status, 0u);
  EXPECT_EQ(run.out, "a\nc");
  EXPECT_EQ(run.err, "b\n");
}

TEST(Conversation, BrokenConversationsPrintOneLineAndFail) {
  struct Case {
    std::string peer;
    std::string description;
  } cases[] = {
      {"", "unexpected end of file"},
      {out("partial"), "unexpected end of file"},
      {"J", "failed to fill whole buffer"},
      {std::string("J\0\0", 3), "failed to fill whole buffer"},
      {json(R"({"type":"exit","code":0})").substr(0, 10), "failed to fill whole buffer"},
      {"j", "unknown frame"},
      {std::string("J\x01\0\0\x01", 5), "frame too large"},
  };
  for (const Case& c : cases) {
    Outcome run = run_conversation_with(c.peer);
    EXPECT_EQ(run.status, 255u);
    EXPECT_EQ(run.err.substr(run.err.find("sorvane:")), BROKEN + c.description + "\n");
  }
}

TEST(Conversation, UndecodableReplyIsABrokenConversation) {
  Outcome run = run_conversation_with(json(R"({"type":"exited","code":0})"));
  EXPECT_EQ(run.status, 255u);
  EXPECT_EQ(run.err.rfind(BROKEN, 0), 0u) << run.err;
  EXPECT_NE(run.err.find("exited"), std::string::npos) << run.err;
}

TEST(Conversation, FramesAfterTheFinalReplyAreIgnored) {
  Outcome run =
      run_conversation_with(json(R"({"type":"exit","code":7})") + out("late") + "garbage");
  EXPECT_EQ(run.status, 7u);
  EXPECT_EQ(run.out, "");
}

TEST(Conversation, AnyReplyIsHandledWhateverWasAsked) {
  Outcome run =
      run_conversation_with(json(R"({"type":"hosts","hosts":[]})"), Options{.json = true});
  EXPECT_EQ(run.status, 0u);
  EXPECT_EQ(run.out, "[]\n");
}

TEST(Conversation, ProgressIsErasedBeforeTheNextReply) {
  std::string progress =
      json(R"({"type":"progress","files":3,"total_files":10,"bytes":1536,"total_bytes":1048576})");
  Outcome run = run_conversation_with(
      progress + progress + json(R"({"type":"error","code":"transfer_failed","message":"断了"})"),
      Options{.progress = true, .terminal = true});
  const std::string line = "3/10 个文件，1.5 KB / 1.0 MB";
  const std::string blank = "\r" + std::string(28, ' ') + "\r";
  EXPECT_EQ(run.err, "\r" + line + "\r" + line + blank + "sorvane: [transfer_failed] 断了\n");
  EXPECT_EQ(run.status, 255u);
}

TEST(Conversation, ProgressIsNotDrawnWithoutATerminal) {
  Outcome run = run_conversation_with(
      json(R"({"type":"progress","files":1,"total_files":1,"bytes":1,"total_bytes":1})") +
          json(
              R"({"type":"transfer_done","files":1,"bytes":1,"skipped":0,"failed":0,"failures":[]})"),
      Options{.progress = false});
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "已传输 1 个文件，共 1 B\n");
}

TEST(Conversation, ABrokenBreakAfterProgressLeavesTheLine) {
  Outcome run = run_conversation_with(
      json(R"({"type":"progress","files":1,"total_files":2,"bytes":0,"total_bytes":0})"),
      Options{.progress = true, .terminal = true});
  EXPECT_EQ(run.err, "\r1/2 个文件，0 B / 0 B" + BROKEN + "unexpected end of file\n");
}

TEST(Conversation, FailedOutputWriteIsABrokenConversation) {
  Outcome run = run_conversation_with(out("x") + json(R"({"type":"exit","code":0})"),
                                      Options{.stdout_broken = true});
  EXPECT_EQ(run.status, 255u);
  EXPECT_EQ(run.err, BROKEN + "broken pipe (os error 32)\n");
}

TEST(Conversation, SplitCharacterOnATerminalIsShownWhole) {
  Outcome run = run_conversation_with(
      out("\xE4\xB8") + out("\xAD\xFF") + out("\xE4\xB8") + json(R"({"type":"exit","code":0})"),
      Options{.terminal = true});
  EXPECT_EQ(run.out, "中\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace sorvane
