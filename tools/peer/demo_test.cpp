#include "demo.h"

#include <gtest/gtest.h>

#include "test_streams.h"

namespace sorvane::peer {
namespace {

using testing::split_frames;
using testing::StringWriter;

const Json HOSTS = Json::parse(
    R"([{"id":"a1b2c3d4e5f60718","name":"web","user":"u","host":"h","port":22},
        {"id":"b7c8d9e0f1a2b3c4","name":"db","user":"u","host":"h","port":22}])");

TEST(PeerDemoRequest, RefusesMalformedEnvelopesWithTheRightCode) {
  const std::pair<std::string_view, ErrorCode> cases[] = {
      {"", ErrorCode::BadRequest},
      {"[2]", ErrorCode::BadRequest},
      {R"({"request":{"type":"activate"}})", ErrorCode::BadRequest},
      {R"({"version":"2","request":{"type":"activate"}})", ErrorCode::BadRequest},
      {R"({"version":1,"request":{"type":"activate"}})", ErrorCode::VersionMismatch},
      {R"({"version":3,"request":{"type":"nonsense"}})", ErrorCode::VersionMismatch},
      {R"({"version":2})", ErrorCode::BadRequest},
      {R"({"version":2,"request":{"type":"EXEC","host":"a","command":"b"}})",
       ErrorCode::BadRequest},
      {R"({"version":2,"request":{"type":"exec","host":"a"}})", ErrorCode::BadRequest},
      {R"({"version":2,"request":{"type":"exec","host":1,"command":"b"}})", ErrorCode::BadRequest},
      {R"({"version":2,"request":{"type":"list","query":5}})", ErrorCode::BadRequest},
      {R"({"version":2,"request":{"type":"upload","host":"a","source":"/x"}})",
       ErrorCode::BadRequest},
  };
  for (const auto& [payload, code] : cases) {
    auto request = decode_request(payload);
    ASSERT_FALSE(request) << payload;
    EXPECT_EQ(request.error().code, code) << payload;
  }
}

TEST(PeerDemoRequest, DecodesEveryRequestType) {
  auto list = decode_request(R"({"version":2,"request":{"type":"list","query":null}})");
  ASSERT_TRUE(list);
  EXPECT_FALSE(std::get<ListRequest>(*list).query);
  auto download = decode_request(
      R"({"request":{"destination":"/tmp/x","source":"~/a","host":"h","type":"download"},"version":2})");
  ASSERT_TRUE(download);
  const auto& transfer = std::get<TransferRequest>(*download);
  EXPECT_FALSE(transfer.upload);
  EXPECT_EQ(transfer.source, "~/a");
  EXPECT_EQ(transfer.destination, "/tmp/x");
}

std::vector<std::pair<char, std::string>> serve(std::string_view payload) {
  StringWriter out;
  EXPECT_TRUE(serve_demo(payload, HOSTS, out));
  auto split = split_frames(out.text);
  EXPECT_TRUE(split.rest.empty());
  return split.frames;
}

TEST(PeerDemo, AnswersListActivateAndUnknownHosts) {
  auto list = serve(R"({"version":2,"request":{"type":"list","query":"DB"}})");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(Json::parse(list[0].second)["hosts"].size(), 1u);

  auto activate = serve(R"({"version":2,"request":{"type":"activate"}})");
  ASSERT_EQ(activate.size(), 1u);
  EXPECT_EQ(activate[0].second, R"({"type":"activated"})");

  for (
      const auto* payload :
      {R"({"version":2,"request":{"type":"exec","host":"nope","command":"exit 0"}})",
       R"({"version":2,"request":{"type":"upload","host":"nope","source":"/a","destination":"b"}})"}) {
    auto reply = serve(payload);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].second,
              "{\"type\":\"error\",\"code\":\"host_not_found\",\"message\":\"找不到主机 nope\"}");
  }
}

TEST(PeerDemo, ExecStreamsOutputThenTheExitCode) {
  auto frames = serve(
      R"({"version":2,"request":{"type":"exec","host":"a1b2c3d4e5f60718","command":"echo out&& echo err>&2&& exit 3"}})");
  ASSERT_GE(frames.size(), 3u);
  std::string out;
  std::string err;
  for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
    (frames[i].first == '1' ? out : err) += frames[i].second;
  }
  EXPECT_EQ(out.substr(0, 3), "out");
  EXPECT_EQ(err.substr(0, 3), "err");
  EXPECT_EQ(frames.back().second, R"({"type":"exit","code":3})");
}

TEST(PeerDemo, ExecStopsWhenTheClientHasGone) {
  StringWriter out;
  out.broken = true;
  auto served = serve_demo(
      R"({"version":2,"request":{"type":"exec","host":"a1b2c3d4e5f60718","command":"echo hi"}})",
      HOSTS, out);
  EXPECT_FALSE(served);
}

}  // namespace
}  // namespace sorvane::peer
