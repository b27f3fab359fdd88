#include "hosts.h"

#include <gtest/gtest.h>

#include <set>

namespace sorvane::peer {
namespace {

constexpr std::string_view HOSTS = R"([
  {"id":"a1b2c3d4e5f60718","name":"Web-1","group":"Production","user":"deploy","host":"10.0.1.11","port":22,"os":"ubuntu"},
  {"id":"b7c8d9e0f1a2b3c4","name":"数据库","group":null,"user":"POSTGRES","host":"db.internal","port":2222},
  {"id":"c0ffee0000000001","name":"ΣΟΦΙΑ","user":"ci","host":"build","port":22,"os":null}
])";

std::vector<std::string> ids(const Json& hosts) {
  std::vector<std::string> out;
  for (const auto& host : hosts) out.push_back(host["id"].get<std::string>());
  return out;
}

TEST(PeerHosts, FiltersByAnyMemberIgnoringCaseInFileOrder) {
  auto hosts = parse_hosts(HOSTS);
  ASSERT_TRUE(hosts) << hosts.error();
  const std::pair<std::optional<std::string>, std::vector<std::string>> cases[] = {
      {std::nullopt, {"a1b2c3d4e5f60718", "b7c8d9e0f1a2b3c4", "c0ffee0000000001"}},
      {"WEB", {"a1b2c3d4e5f60718"}},
      {"production", {"a1b2c3d4e5f60718"}},   // group
      {"postgres", {"b7c8d9e0f1a2b3c4"}},     // user
      {"db.INTERNAL", {"b7c8d9e0f1a2b3c4"}},  // host
      {"C0FFEE", {"c0ffee0000000001"}},       // id
      {"据库", {"b7c8d9e0f1a2b3c4"}},
      {"σοφια", {"c0ffee0000000001"}},  // beyond ASCII
      {"", {"a1b2c3d4e5f60718", "b7c8d9e0f1a2b3c4", "c0ffee0000000001"}},
      {"nowhere", {}},
  };
  for (const auto& [query, expected] : cases) {
    EXPECT_EQ(ids(filter_hosts(*hosts, query)), expected) << query.value_or("(none)");
  }
}

TEST(PeerHosts, RefusesFilesTheToolWouldRefuse) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"{}", "the hosts file must hold a JSON array"},
      {"[1", "the hosts file is not valid JSON"},
      {R"([{"id":"x","name":"n","user":"u","host":"h"}])",
       "host 1: host member \"port\" must be a number from 0 to 65535"},
      {R"([{"id":"x","name":"n","user":"u","host":"h","port":65536}])",
       "host 1: host member \"port\" must be a number from 0 to 65535"},
      {R"([{"id":"x","name":"n","user":"u","host":"h","port":-1}])",
       "host 1: host member \"port\" must be a number from 0 to 65535"},
      {R"([{"id":"x","name":"n","user":"u","host":"h","port":22,"os":7}])",
       "host 1: host member \"os\" must be a string or null"},
      {R"([{"id":"x","name":"n","user":"u","host":"h","port":22},{"id":1}])",
       "host 2: host member \"id\" must be a string"},
  };
  for (const auto& [text, message] : cases) {
    auto hosts = parse_hosts(text);
    ASSERT_FALSE(hosts) << text;
    EXPECT_EQ(hosts.error(), message);
  }
}

TEST(PeerHosts, GeneratesDistinctSixteenCharacterIds) {
  const Json hosts = generate_hosts(300);
  ASSERT_EQ(hosts.size(), 300u);
  std::set<std::string> seen;
  for (const auto& host : hosts) {
    const auto id = host["id"].get<std::string>();
    EXPECT_EQ(id.size(), 16u);
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 300u);
  EXPECT_TRUE(parse_hosts(hosts.dump()));  // a valid hosts file as well
  EXPECT_NE(find_host(hosts, hosts[299]["id"].get<std::string>()), nullptr);
  EXPECT_EQ(find_host(hosts, "missing"), nullptr);
}

}  // namespace
}  // namespace sorvane::peer
