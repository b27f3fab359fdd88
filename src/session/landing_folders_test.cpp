#include "session/landing_folders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sorvane {
namespace {

struct Case {
  std::vector<HostLabel> hosts;
  std::vector<std::string> folders;  // "" where the host gets an error
};

HostLabel host(std::string id, std::optional<std::string> name) {
  return {std::move(id), std::move(name), {}};
}

TEST(LandingFolders, NamesWhereSafeAndDistinctElseIds) {
  const std::vector<Case> cases = {
      {{host("a1", "web-1"), host("a2", "web-2"), host("a3", std::nullopt)},
       {"web-1", "web-2", "a3"}},
      // Shared names, and names one case-blind file system would merge.
      {{host("a1", "db"), host("a2", "db"), host("a3", "Web"), host("a4", "web")},
       {"a1", "a2", "a3", "a4"}},
      // A name that meets another host's ID gives way; IDs never do.
      {{host("a1", "a2"), host("a2", std::nullopt)}, {"a1", "a2"}},
      // Not one safe folder name: the ID stands in, or the host cannot run.
      {{host("a1", ""),
        host("a2", "."),
        host("a3", ".."),
        host("a4", "x/y"),
        host("a5", "x\\y"),
        host("a6", "x:y"),
        host("a7", "a<b"),
        host("a8", "q?"),
        host("a9", "star*"),
        host("b1", "pipe|"),
        host("b2", "\"q\""),
        host("b3", "tab\tx"),
        host("b4", "\x1b[2J"),
        host("b5", "c1\xc2\x85"),
        host("b6", "del\x7f"),
        host("b7", "bad\xff"),
        host("b8", "CON"),
        host("b9", "nul.txt"),
        host("c1", "com1"),
        host("c2", "LPT9.log"),
        host("c3", "trailing."),
        host("c4", "trailing "),
        host("c5", std::string(256, 'x'))},
       {"a1", "a2", "a3", "a4", "a5", "a6", "a7", "a8", "a9", "b1", "b2", "b3",
        "b4", "b5", "b6", "b7", "b8", "b9", "c1", "c2", "c3", "c4", "c5"}},
      // What is safe stays as it is.
      {{host("a1", "web 1.example"), host("a2", "数据库"), host("a3", "con-1"),
        host("a4", std::string(255, 'x')), host("a5", ".hidden")},
       {"web 1.example", "数据库", "con-1", std::string(255, 'x'), ".hidden"}},
      // IDs that cannot be folders either.
      {{host("../up", "x/y"), host("AUX", std::nullopt), host("ok", "fine")}, {"", "", "fine"}},
      {{host("ab", std::nullopt), host("AB", std::nullopt)}, {"ab", ""}},
  };
  for (const Case& c : cases) {
    const auto folders = landing_folders(c.hosts);
    ASSERT_EQ(folders.size(), c.folders.size());
    for (std::size_t i = 0; i < folders.size(); ++i) {
      SCOPED_TRACE(c.hosts[i].id);
      if (c.folders[i].empty()) {
        ASSERT_FALSE(folders[i]);
        EXPECT_EQ(folders[i].error().code, ErrorCode::BadRequest);
      } else {
        ASSERT_TRUE(folders[i]) << folders[i].error().message;
        EXPECT_EQ(*folders[i], c.folders[i]);
      }
    }
  }
}

}  // namespace
}  // namespace sorvane
