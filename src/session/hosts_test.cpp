#include "session/hosts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sorvane {
namespace {

using Ids = std::vector<std::string>;

TEST(HostsFileIds, OneIdPerLineWithoutBlanksCommentsOrRepeats) {
  const std::vector<std::pair<std::string, Ids>> cases = {
      {"a\nb\n", {"a", "b"}},
      {"\xEF\xBB\xBF"
       "a\r\n\r\n  b  \r\nc",
       {"a", "b", "c"}},
      {"# web\n\ta # the first\n#b\nc\na\n", {"a", "c"}},
      {"", {}},
      {"\n# only comments\n   \n", {}},
  };
  for (const auto& [text, ids] : cases) {
    auto parsed = hosts_file_ids(text);
    ASSERT_TRUE(parsed) << text;
    EXPECT_EQ(*parsed, ids) << text;
  }
  EXPECT_EQ(hosts_file_ids("a\n\xFF\n").error().code, ErrorCode::BadRequest);
}

TEST(HostsOf, TheListOrTheErrorLine) {
  EXPECT_EQ(hosts_of(Reply{Reply::Hosts{{HostInfo{"a", "web", {}, "u", "h", 22, {}}}}})->at(0).id,
            "a");
  EXPECT_EQ(hosts_of(Reply{Reply::Error{ErrorCode::NotRunning, "off"}}).error().message, "off");
  EXPECT_EQ(hosts_of(Reply{Reply::Exit{0}}).error().code, ErrorCode::ConnectFailed);
  EXPECT_EQ(hosts_of(fail(connection_broken("cut"))).error().code, ErrorCode::ConnectFailed);
}

}  // namespace
}  // namespace sorvane
