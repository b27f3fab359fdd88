#include "mcp/request_state.h"

#include <gtest/gtest.h>

namespace sorvane::mcp {
namespace {

using Clock = RequestStateSeal::Clock;
using std::chrono::seconds;

const Clock::time_point NOW = Clock::time_point(seconds(1000));
const AskedCall CALL{"exec", {"a1", "b2"}, digest_arguments(Json{{"command", "uptime"}})};

HmacKey key_of(std::uint8_t fill) {
  HmacKey key{};
  key.fill(fill);
  return key;
}

TEST(RequestState, AnswerCountsOnlyForItsCallBeforeItsExpiryAndOnce) {
  RequestStateSeal seal(key_of(1));
  const std::string state = seal.seal(CALL, NOW + seconds(60));
  std::string changed_body = state;
  changed_body[3] = changed_body[3] == '0' ? '1' : '0';
  std::string changed_tag = state;
  changed_tag.back() = changed_tag.back() == '0' ? '1' : '0';
  AskedCall other_command = CALL;
  other_command.arguments_digest = digest_arguments(Json{{"command", "reboot"}});
  AskedCall other_hosts = CALL;
  other_hosts.hosts = {"a1"};
  AskedCall other_tool = CALL;
  other_tool.tool = "upload";

  struct Case {
    const char* what;
    std::string state;
    AskedCall call;
    Clock::time_point now;
    std::optional<StateRefusal> refusal;
  };
  const Case cases[] = {
      {"a body changed", changed_body, CALL, NOW, StateRefusal::Altered},
      {"a tag changed", changed_tag, CALL, NOW, StateRefusal::Altered},
      {"no tag", state.substr(0, state.find('.')), CALL, NOW, StateRefusal::Altered},
      {"not hex", "zz." + state.substr(state.find('.') + 1), CALL, NOW, StateRefusal::Altered},
      {"another process's", RequestStateSeal(key_of(2)).seal(CALL, NOW + seconds(60)), CALL, NOW,
       StateRefusal::Altered},
      {"at its expiry", state, CALL, NOW + seconds(60), StateRefusal::Expired},
      {"another command", state, other_command, NOW, StateRefusal::OtherCall},
      {"fewer hosts", state, other_hosts, NOW, StateRefusal::OtherCall},
      {"another tool", state, other_tool, NOW, StateRefusal::OtherCall},
      {"its own call", state, CALL, NOW + seconds(59), std::nullopt},
      {"again", state, CALL, NOW + seconds(59), StateRefusal::Spent},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(seal.accept(c.state, c.call, c.now), c.refusal) << c.what;
  }
  // Spent states are forgotten once they would have expired anyway.
  EXPECT_EQ(seal.accept(seal.seal(CALL, NOW + seconds(120)), CALL, NOW + seconds(61)),
            std::nullopt);
}

TEST(RequestState, ArgumentsDigestIgnoresMemberOrder) {
  EXPECT_EQ(digest_arguments(Json::parse(R"({"host":"a","command":"ls"})")),
            digest_arguments(Json::parse(R"({"command":"ls","host":"a"})")));
  EXPECT_NE(digest_arguments(Json::parse(R"({"host":"a","command":"ls"})")),
            digest_arguments(Json::parse(R"({"host":"a","command":"ls "})")));
}

}  // namespace
}  // namespace sorvane::mcp
