#include "protocol/request.h"

#include <gtest/gtest.h>

#include "protocol/json_quote.h"

namespace sorvane {
namespace {

struct EncodeCase {
  const char* name;
  Request request;
  std::string expected;
};

std::vector<EncodeCase> encode_cases() {
  return {
      {"list without query",
       {Request::List{}},
       R"({"version":2,"request":{"type":"list","query":null}})"},
      {"list with query",
       {Request::List{"web"}},
       R"({"version":2,"request":{"type":"list","query":"web"}})"},
      {"list with empty query",
       {Request::List{""}},
       R"({"version":2,"request":{"type":"list","query":""}})"},
      {"exec",
       {Request::Exec{"abc", "uptime"}},
       R"({"version":2,"request":{"type":"exec","host":"abc","command":"uptime"}})"},
      {"exec escapes quotes, backslash, tab, newline",
       {Request::Exec{"abc", "echo \"a\\b\"\tx\ny"}},
       R"({"version":2,"request":{"type":"exec","host":"abc","command":"echo \"a\\b\"\tx\ny"}})"},
      {"exec escapes every control character",
       {Request::Exec{"h", std::string("\x00\x01\x08\x0b\x0c\x0d\x1b\x1f\x7f", 9)}},
       R"({"version":2,"request":{"type":"exec","host":"h","command":"\u0000\u0001\b\u000b\f\r\u001b\u001f)"
       "\x7f\"}}"},
      {"exec keeps non-ASCII and slash raw",
       {Request::Exec{"主机", "cat /etc/名前 — é 😀"}},
       R"({"version":2,"request":{"type":"exec","host":"主机","command":"cat /etc/名前 — é 😀"}})"},
      {"upload",
       {Request::Upload{"abc", utf8_to_native("/home/u/文件.zip"), "~/in/"}},
       R"({"version":2,"request":{"type":"upload","host":"abc","source":"/home/u/文件.zip","destination":"~/in/"}})"},
      {"download",
       {Request::Download{"abc", "~/log \"x\".txt", utf8_to_native("C:\\Users\\u\\out")}},
       R"({"version":2,"request":{"type":"download","host":"abc","source":"~/log \"x\".txt","destination":"C:\\Users\\u\\out"}})"},
      {"activate", {Request::Activate{}}, R"({"version":2,"request":{"type":"activate"}})"},
  };
}

TEST(EncodeRequest, ByteExact) {
  for (const auto& test : encode_cases()) {
    auto encoded = encode_request(test.request);
    ASSERT_TRUE(encoded) << test.name << ": " << encoded.error();
    EXPECT_EQ(*encoded, test.expected) << test.name;
    EXPECT_NE(encoded->back(), '\n') << test.name;
  }
}

// Each host's envelope, put together from the shared parts, is exactly the
// one encoded for that host alone.
TEST(EncodeExecEnvelope, PartsJoinToTheRequestOfEachHost) {
  for (const auto& test : encode_cases()) {
    const auto* exec = std::get_if<Request::Exec>(&test.request.member);
    if (exec == nullptr) continue;
    const ExecEnvelope envelope = encode_exec_envelope(exec->command);
    for (const std::string& host : {exec->host, std::string(), std::string("a\"b\x01")}) {
      const std::string joined = envelope.before_host + json_quote(host) + envelope.after_host;
      EXPECT_EQ(joined, *encode_request({Request::Exec{host, exec->command}})) << test.name;
      EXPECT_EQ(envelope.size_for(host), joined.size()) << test.name;
    }
  }
}

}  // namespace
}  // namespace sorvane
