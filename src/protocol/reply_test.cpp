#include "protocol/reply.h"

#include <gtest/gtest.h>

#include "text/utf8.h"

namespace sorvane {
namespace {

HostInfo web_host() {
  return HostInfo{"0123456789abcdef", "web", "prod", "root", "10.0.0.1", 22, "ubuntu"};
}

constexpr std::string_view WEB_HOST =
    R"({"id":"0123456789abcdef","name":"web","group":"prod","user":"root","host":"10.0.0.1","port":22,"os":"ubuntu"})";

std::string with_web_host(std::string_view before, std::string_view after) {
  return std::string(before) + std::string(WEB_HOST) + std::string(after);
}

struct Accepted {
  const char* name;
  std::string payload;
  Reply expected;
};

std::vector<Accepted> accepted_cases() {
  HostInfo bare{"x", "n", std::nullopt, "u", "h", 65535, std::nullopt};
  HostInfo empty_group = bare;
  empty_group.group = "";
  const std::uint64_t max64 = UINT64_MAX;
  return {
      {"hosts", with_web_host(R"({"type":"hosts","hosts":[)", "]}"),
       Reply{Reply::Hosts{{web_host()}}}},
      {"hosts, type last", with_web_host(R"({"hosts":[)", R"(],"type":"hosts"})"),
       Reply{Reply::Hosts{{web_host()}}}},
      {"empty hosts", R"({"type":"hosts","hosts":[]})", Reply{Reply::Hosts{}}},
      {"optional host fields absent",
       R"({"type":"hosts","hosts":[{"id":"x","name":"n","user":"u","host":"h","port":65535}]})",
       Reply{Reply::Hosts{{bare}}}},
      {"optional host fields null",
       R"({"type":"hosts","hosts":[{"id":"x","name":"n","group":null,"user":"u","host":"h","port":65535,"os":null}]})",
       Reply{Reply::Hosts{{bare}}}},
      {"empty group is a group",
       R"({"type":"hosts","hosts":[{"id":"x","name":"n","group":"","user":"u","host":"h","port":65535}]})",
       Reply{Reply::Hosts{{empty_group}}}},
      {"unknown members dropped at every level, repeats too",
       R"({"extra":1,"type":"hosts","extra":[{"a":{"b":[1,2]}}],"Type":"nope","hosts":[{"id":"x","type":"t","type":5,"name":"n",)"
       R"("user":"u","host":"h","port":65535,"zone":{"deep":[[[[]]]]},"zone":null}]})",
       Reply{Reply::Hosts{{bare}}}},
      {"progress",
       R"({"type":"progress","files":1,"total_files":2,"bytes":3,"total_bytes":18446744073709551615})",
       Reply{Reply::Progress{{1, 2, 3, max64}}}},
      {"transfer done",
       R"({"failures":["a: denied","b"],"type":"transfer_done","files":4,"bytes":5,"skipped":6,"failed":2})",
       Reply{Reply::TransferDone{{4, 5, 6, 2, {"a: denied", "b"}}}}},
      {"transfer done without failures",
       R"({"type":"transfer_done","files":0,"bytes":0,"skipped":0,"failed":0,"failures":[]})",
       Reply{Reply::TransferDone{}}},
      {"exit", R"({"type":"exit","code":0})", Reply{Reply::Exit{0}}},
      {"exit -1", R"({"type":"exit","code":-1})", Reply{Reply::Exit{-1}}},
      {"exit extremes", R"({"type":"exit","code":-2147483648})", Reply{Reply::Exit{INT32_MIN}}},
      {"exit max", R"({"type":"exit","code":2147483647})", Reply{Reply::Exit{INT32_MAX}}},
      {"minus zero is zero", R"({"type":"exit","code":-0})", Reply{Reply::Exit{0}}},
      {"activated with members", R"({"type":"activated","code":"x","code":[1],"hosts":5})",
       Reply{Reply::Activated{}}},
      {"error", R"({"type":"error","code":"host_key_changed","message":"主机密钥已变化"})",
       Reply{Reply::Error{ErrorCode::HostKeyChanged, "主机密钥已变化"}}},
      {"error with empty message", R"({"message":"","code":"bad_request","type":"error"})",
       Reply{Reply::Error{ErrorCode::BadRequest, ""}}},
      {"whitespace around", " \t\r\n{ \"type\" : \"activated\" }\r\n \t",
       Reply{Reply::Activated{}}},
      {"escapes in strings",
       R"({"type":"error","code":"connect_failed","message":"a\"b\\c\u00e9\ud83d\ude00\n"})",
       Reply{Reply::Error{ErrorCode::ConnectFailed, "a\"b\\c\xC3\xA9\xF0\x9F\x98\x80\n"}}},
  };
}

TEST(DecodeReply, Accepts) {
  for (const auto& test : accepted_cases()) {
    auto reply = decode_reply(test.payload);
    ASSERT_TRUE(reply) << test.name << ": " << reply.error();
    EXPECT_TRUE(*reply == test.expected) << test.name;
  }
}

struct Rejected {
  const char* name;
  std::string payload;
  std::string mentions;  // the description must name the culprit
};

std::string host_with(std::string_view replace_port) {
  return R"({"type":"hosts","hosts":[{"id":"x","name":"n","user":"u","host":"h",)" +
         std::string(replace_port) + "}]}";
}

std::vector<Rejected> rejected_cases() {
  return {
      {"empty payload", "", "unexpected end of input"},
      {"only whitespace", "  \n", "line 2"},
      {"not JSON", "hello", "syntax error"},
      {"two values", R"({"type":"activated"}{"type":"activated"})", "end of input"},
      {"trailing garbage", R"({"type":"activated"} x)", "end of input"},
      {"byte order mark", "\xEF\xBB\xBF{\"type\":\"activated\"}", "byte order mark"},
      {"comment", R"({"type":"activated"} // hi)", "end of input"},
      {"array reply", R"(["exit",0])", "reply object"},
      {"string reply", R"("activated")", "reply object"},
      {"null reply", "null", "reply object"},
      {"missing type", R"({"code":0})", "missing member \"type\""},
      {"type in other case", R"({"Type":"exit","code":0})", "missing member \"type\""},
      {"second type", R"({"type":"exit","code":0,"type":"exit"})", "duplicate member \"type\""},
      {"unknown tag", R"({"type":"reboot"})", "\"reboot\""},
      {"tag in capitals", R"({"type":"Exit","code":0})", "\"Exit\""},
      {"number type", R"({"type":3})", "\"type\""},
      {"null type", R"({"type":null})", "found null"},
      {"object type", R"({"type":{"exit":null}})", "found an object"},
      {"unknown tag before a syntax error", R"({"type":"nope",)", "\"nope\""},
      {"missing hosts", R"({"type":"hosts"})", "missing field \"hosts\""},
      {"hosts not an array", R"({"type":"hosts","hosts":{}})", "\"hosts\""},
      {"host as array", R"({"type":"hosts","hosts":[["x","n",null,"u","h",22,null]]})", "hosts[0]"},
      {"repeated hosts", R"({"type":"hosts","hosts":[],"hosts":[]})", "duplicate field \"hosts\""},
      {"repeated field in host", host_with(R"("port":22,"port":22)"),
       "duplicate field \"hosts[0].port\""},
      {"missing port", host_with(R"("os":null)"), "missing field \"hosts[0].port\""},
      {"port 65536", host_with(R"("port":65536)"), "65536 is out of range 0 to 65535"},
      {"port -1", host_with(R"("port":-1)"), "-1 is out of range"},
      {"port 22.0", host_with(R"("port":22.0)"), "22.0 is not an integer"},
      {"port 1e2", host_with(R"("port":1e2)"), "1e2 is not an integer"},
      {"port as string", host_with(R"("port":"22")"), "found string \"22\""},
      {"port as boolean", host_with(R"("port":true)"), "found true"},
      {"port null", host_with(R"("port":null)"), "found null"},
      {"name as number",
       R"({"type":"hosts","hosts":[{"id":"x","name":5,"user":"u","host":"h","port":1}]})",
       "\"hosts[0].name\""},
      {"group as number",
       R"({"type":"hosts","hosts":[{"id":"x","name":"n","group":1,"user":"u","host":"h","port":1}]})",
       "\"hosts[0].group\""},
      {"second host wrong", with_web_host(R"({"type":"hosts","hosts":[)", R"(,{"id":1}]})"),
       "hosts[1].id"},
      {"counter negative",
       R"({"type":"progress","files":-1,"total_files":2,"bytes":3,"total_bytes":4})", "\"files\""},
      {"counter over 64 bits",
       R"({"type":"progress","files":1,"total_files":2,"bytes":3,"total_bytes":18446744073709551616})",
       "18446744073709551616 is out of range"},
      {"counter missing", R"({"type":"progress","files":1,"total_files":2,"bytes":3})",
       "\"total_bytes\""},
      {"counter repeated",
       R"({"type":"progress","files":1,"files":1,"total_files":2,"bytes":3,"total_bytes":4})",
       "duplicate field \"files\""},
      {"failures missing", R"({"type":"transfer_done","files":0,"bytes":0,"skipped":0,"failed":0})",
       "missing field \"failures\""},
      {"failures not strings",
       R"({"type":"transfer_done","files":0,"bytes":0,"skipped":0,"failed":1,"failures":[1]})",
       "failures[0]"},
      {"failures null",
       R"({"type":"transfer_done","files":0,"bytes":0,"skipped":0,"failed":0,"failures":null})",
       "\"failures\""},
      {"exit code too big", R"({"type":"exit","code":2147483648})", "2147483648 is out of range"},
      {"exit code too small", R"({"type":"exit","code":-2147483649})",
       "-2147483649 is out of range"},
      {"exit code huge negative", R"({"type":"exit","code":-99999999999999999999})",
       "out of range"},
      {"exit code missing", R"({"type":"exit"})", "missing field \"code\""},
      {"exit code as string", R"({"type":"exit","code":"0"})", "\"code\""},
      {"error code in capitals", R"({"type":"error","code":"NOT_RUNNING","message":""})",
       "\"NOT_RUNNING\""},
      {"error code unknown", R"({"type":"error","code":"timeout","message":""})", "\"timeout\""},
      {"error code as position", R"({"type":"error","code":0,"message":""})", "\"code\""},
      {"error code as object", R"({"type":"error","code":{"not_running":null},"message":""})",
       "\"code\""},
      {"error message missing", R"({"type":"error","code":"bad_request"})",
       "missing field \"message\""},
      {"error message null", R"({"type":"error","code":"bad_request","message":null})",
       "\"message\""},
      {"invalid UTF-8 in a string",
       "{\"type\":\"error\",\"code\":\"bad_request\",\"message\":\"\xff\"}", "UTF-8"},
      {"unterminated", R"({"type":"activated")", "syntax error"},
  };
}

TEST(DecodeReply, Rejects) {
  for (const auto& test : rejected_cases()) {
    auto reply = decode_reply(test.payload);
    ASSERT_FALSE(reply) << test.name;
    EXPECT_NE(reply.error().find(test.mentions), std::string::npos)
        << test.name << ": " << reply.error();
    EXPECT_EQ(reply.error().find('\n'), std::string::npos) << test.name << ": " << reply.error();
  }
}

TEST(DecodeReply, LibraryMessagesArePrintable) {
  // The parser quotes what it read: never pass raw bytes or a huge token on.
  std::string long_bad = "{\"type\":\"" + std::string(100000, 'a') + "\xff\"}";
  for (const std::string& payload : {std::string("{\"a\":\"\xff\xfe\"}"), long_bad}) {
    auto reply = decode_reply(payload);
    ASSERT_FALSE(reply);
    EXPECT_TRUE(text::is_valid_utf8(reply.error())) << reply.error();
    EXPECT_LT(reply.error().size(), 400u);
  }
}

TEST(DecodeReply, DescriptionSaysWhere) {
  auto reply = decode_reply("{\"type\":\"exit\",\n \"code\":\"0\"}");
  ASSERT_FALSE(reply);
  EXPECT_NE(reply.error().find("line 2, column"), std::string::npos) << reply.error();
}

TEST(DecodeReply, WholeDescriptions) {
  // Which fault wins when there are several, and the place it is reported at:
  // where the value, the repeated key or the object missing a field starts.
  struct Case {
    const char* name;
    std::string payload;
    std::string description;
  };
  const Case cases[] = {
      {"later host, later line",
       "{\"type\":\"hosts\",\n\"hosts\":[\n{\"id\":\"a\",\"name\":\"n\",\"user\":\"u\",\"host\":"
       "\"h\",\"port\":1},\n"
       "{\"id\":\"b\",\"name\":\"n\",\"user\":\"u\",\"host\":\"h\",\"port\":\"1\"}]}",
       "invalid type for \"hosts[1].port\": expected an integer, found string \"1\" at line 4, "
       "column 51"},
      {"first faulty host wins, type last",
       "{\"hosts\":[{\"id\":\"a\"},{\"id\":\"b\",\"id\":\"c\"}],\n\"type\":\"hosts\"}",
       "missing field \"hosts[0].name\" at line 1, column 11"},
      {"repeated hosts beat a faulty host",
       "{\"hosts\":[{\"name\":5}],\"type\":\"hosts\",\n\"hosts\":[]}",
       "duplicate field \"hosts\" at line 2, column 1"},
      {"host that is no object", "{\"hosts\":[1,{\"id\":\"x\"}],\"type\":\"hosts\"}",
       "invalid type for \"hosts[0]\": expected a host object, found 1 at line 1, column 11"},
      {"fields in a fixed order, not the payload's",
       R"({"type":"hosts","hosts":[{"id":"x","name":"n","user":"u","host":"h","port":1,"os":7,"group":[1]}]})",
       "invalid type for \"hosts[0].group\": expected a string or null, found an array at line 1, "
       "column 93"},
      {"missing field, at the host's start",
       "{\"type\":\"hosts\",\"hosts\":[{\"id\":\"x\",\"name\":\"n\",\"user\":\"u\",\"host\":\"h\"}"
       "\n]}",
       "missing field \"hosts[0].port\" at line 1, column 26"},
      {"repeats in the order of the fields, at the second key",
       R"({"type":"progress","bytes":1,"files":1,"bytes":2,"files":2})",
       "duplicate field \"files\" at line 1, column 50"},
      {"failure that is no string",
       "{\"type\":\"transfer_done\",\"files\":0,\"bytes\":0,\"skipped\":0,\"failed\":0,"
       "\n\"failures\":[\"a\",{\"b\":1}]}",
       "invalid type for \"failures[1]\": expected a string, found an object at line 2, column 17"},
      {"message as number", "{\"type\":\"error\",\"code\":\"bad_request\",\n  \"message\":7}",
       "invalid type for \"message\": expected a string, found 7 at line 2, column 13"},
      {"code before type", "{\"code\":\"nope\",\n\"type\":\"error\",\"message\":\"m\"}",
       "unknown error code \"nope\" at line 1, column 9"},
      {"exponent port",
       R"({"type":"hosts","hosts":[{"id":"x","name":"n","user":"u","host":"h","port":1.5e3}]})",
       "invalid value for \"hosts[0].port\": 1.5e3 is not an integer at line 1, column 76"},
  };
  for (const Case& test : cases) {
    auto reply = decode_reply(test.payload);
    ASSERT_FALSE(reply) << test.name;
    EXPECT_EQ(reply.error(), test.description) << test.name;
  }
}

TEST(DecodeReply, MembersOfOtherTypesAreNotChecked) {
  // A faulty "hosts" list means nothing to an exit reply, before or after the tag.
  for (std::string payload : {R"({"hosts":[{"id":1,"id":2}],"type":"exit","code":3})",
                              R"({"type":"exit","hosts":[{"id":1,"id":2}],"hosts":7,"code":3})"}) {
    auto reply = decode_reply(payload);
    ASSERT_TRUE(reply) << payload << ": " << reply.error();
    EXPECT_TRUE(*reply == Reply{Reply::Exit{3}}) << payload;
  }
}

TEST(DecodeReply, ManyHosts) {
  std::string payload = R"({"hosts":[)";
  for (int i = 0; i < 300; ++i) payload += std::string(i ? "," : "") + std::string(WEB_HOST);
  payload += R"(],"type":"hosts"})";
  auto reply = decode_reply(payload);
  ASSERT_TRUE(reply) << reply.error();
  EXPECT_TRUE(*reply == Reply{Reply::Hosts{std::vector<HostInfo>(300, web_host())}});
}

TEST(DecodeReply, DeepNestingInDroppedMembersIsHarmless) {
  std::string payload =
      R"({"type":"activated","x":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
  EXPECT_TRUE(decode_reply(payload));
}

}  // namespace
}  // namespace sorvane
