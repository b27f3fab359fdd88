#include "session/landing_folders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sorvane {
namespace {

HostLabel host(std::string id, std::optional<std::string> name) {
  return {std::move(id), std::move(name), {}};
}

// Each host's folder, "!" for a host that gets an error instead.
std::vector<std::string> folders_of(const std::vector<HostLabel>& hosts) {
  std::vector<std::string> shown;
  for (const auto& folder : landing_folders(hosts)) {
    shown.push_back(folder ? *folder : "!");
  }
  return shown;
}

using Folders = std::vector<std::string>;

TEST(LandingFolders, NamesWhereSafeAndDistinctElseIds) {
  std::vector<std::string> unsafe = {
      "",      ".",       "..",    "x/y",      "x\\y",      "x:y",        "a<b",     "q?",
      "star*", "pipe|",   "\"q\"", "tab\tx",   "\x1b[2J",   "c1\xc2\x85", "del\x7f", "bad\xff",
      "CON",   "nul.txt", "com1",  "LPT9.log", "trailing.", "trailing "};
  unsafe.emplace_back(256, 'x');
  // Reordered or hidden text, and both spellings of "café".
  // NOLINTNEXTLINE(misc-misleading-bidirectional): hostile on purpose
  for (const char* name : {"\xe2\x80\xaegnp.exe", "web\xf3\xa0\x80\x81", "zw\xe2\x80\x8bj",
                           "caf\xc3\xa9", "cafe\xcc\x81"}) {
    unsafe.emplace_back(name);
  }
  for (const std::string& name : unsafe) EXPECT_EQ(folders_of({host("id", name)}), Folders{"id"});

  const std::vector<std::pair<std::vector<HostLabel>, Folders>> cases = {
      {{host("a1", "web 1.example"), host("a2", "数据库"), host("a3", "con-1"),
        host("a4", std::string(255, 'x')), host("a5", ".hidden"), host("a6", std::nullopt)},
       {"web 1.example", "数据库", "con-1", std::string(255, 'x'), ".hidden", "a6"}},
      // Shared names, and names one case-blind file system would merge.
      {{host("a1", "db"), host("a2", "db"), host("a3", "Web"), host("a4", "web")},
       {"a1", "a2", "a3", "a4"}},
      // A name that meets another host's ID gives way; IDs never do.
      {{host("a1", "a2"), host("a2", std::nullopt)}, {"a1", "a2"}},
      // IDs that cannot be folders either, or only one folder for two.
      {{host("../up", "x/y"), host("AUX", std::nullopt), host("ok", "fine")}, {"!", "!", "fine"}},
      {{host("ab", std::nullopt), host("AB", std::nullopt)}, {"ab", "!"}},
  };
  for (const auto& [hosts, folders] : cases) EXPECT_EQ(folders_of(hosts), folders);
}

}  // namespace
}  // namespace sorvane
