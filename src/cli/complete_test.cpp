#include "cli/complete.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sorvane {
namespace {

struct Case {
  std::vector<std::string> words;  // after the program name; the last is under the cursor
  std::vector<std::string> offered;
  bool local_paths = false;
};

std::vector<HostInfo> hosts() {
  return {
      {"a1b2c3d4e5f60718", "web-1", "production", "deploy", "10.0.1.11", 22, "ubuntu"},
      {"b7c8d9e0f1a2b3c4", "ΣΟΦΙΑ", std::nullopt, "root", "db", 2222, std::nullopt},
      {"bad id\n", "web-evil", std::nullopt, "u", "h", 22, std::nullopt},
  };
}

TEST(Complete, OffersWhatTheParserWouldTakeAtTheCursor) {
  const std::vector<std::string> transfer_options = {
      "-h",     "--help",     "-q",        "--query",     "--hosts-file",
      "--json", "--parallel", "--timeout", "--fail-fast", "--max-fail"};
  const std::vector<Case> cases = {
      {{""}, {"list", "exec", "upload", "download", "help"}},
      {{"--h"}, {"--help"}},
      {{"list", "--query=web", "--"}, {"--help", "--json"}},  // each option once
      {{"list", "-qweb", ""}, {"-h", "--help", "--json"}},    // value attached
      {{"list", "-q", ""}, {}},                               // the option's value
      {{"exec", "--", "-"}, {}},                              // after "--" a value
      {{"exec", "--stdin", "WEB"}, {"a1b2c3d4e5f60718"}},
      {{"exec", "σοφ"}, {"b7c8d9e0f1a2b3c4"}},  // full lower-casing, final sigma included
      {{"exec", "web-e"}, {}},                  // an ID the shell could not take unquoted
      {{"exec", "x", ""}, {}},
      {{"exec", "a1b2c3d4e5f60718,"}, {"a1b2c3d4e5f60718,b7c8d9e0f1a2b3c4"}},  // not listed yet
      {{"exec", "x,,WEB"}, {"x,,a1b2c3d4e5f60718"}},
      {{"exec", "-q", "web", ""}, {}},  // the command, with the hosts chosen by the query
      {{"upload", "x,web"}, {"x,a1b2c3d4e5f60718"}},
      {{"upload", "--hosts-file", "f", "."}, {}, true},  // the local path, with no ID
      {{"upload", "x", "-"}, transfer_options},
      {{"upload", "x", "."}, {}, true},
      {{"upload", "x", "y", ""}, {}},
      {{"download", "--json", "x", "y", ""}, {}, true},
      {{"download", "x", "y", "z", ""}, transfer_options},
      {{"help", "up"}, {"upload"}},
      {{"help", "exec", ""}, {}},
      {{"nosuch", ""}, {}},
  };
  const auto shapes = command_shapes();
  for (const Case& c : cases) {
    std::vector<std::string> words{"sorvane"};
    words.insert(words.end(), c.words.begin(), c.words.end());
    const Completion completion = complete(words, shapes, hosts);
    std::vector<std::string> offered;
    for (const Candidate& candidate : completion.candidates) offered.push_back(candidate.value);
    EXPECT_EQ(offered, c.offered) << ::testing::PrintToString(c.words);
    EXPECT_EQ(completion.local_paths, c.local_paths) << ::testing::PrintToString(c.words);
  }
}

TEST(Complete, AsksForHostsOnlyWhereAnIdGoes) {
  int asked = 0;
  const HostSource counting = [&asked] {
    ++asked;
    return hosts();
  };
  const auto shapes = command_shapes();
  for (const std::vector<std::string>& words :
       std::vector<std::vector<std::string>>{{"sorvane", "e"},
                                             {"sorvane", "upload", "x", ""},
                                             {"sorvane", "exec", "x", ""},
                                             {"sorvane", "list", ""}}) {
    complete(words, shapes, counting);
  }
  EXPECT_EQ(asked, 0);
  complete(std::vector<std::string>{"sorvane", "download", ""}, shapes, counting);
  EXPECT_EQ(asked, 1);
}

TEST(Complete, RendersOneLinePerCandidateWithItsDescription) {
  const auto shapes = command_shapes();
  auto host_lines = render(complete(std::vector<std::string>{"sorvane", "exec", ""}, shapes, [] {
    auto list = hosts();
    list[0].name =
        "web\t1\n\x1b]52;c;aGk=\a\xc2\x9b\xe2\x80\xae\xe2\x80\x8b";  // NOLINT(misc-misleading-bidirectional)
    return list;
  }));
  EXPECT_EQ(
      host_lines,
      "a1b2c3d4e5f60718\tweb\\x091\\x0a\\x1b]52;c;aGk=\\x07\\u009b\\u202e\\u200b, production, "
      "deploy@10.0.1.11:22\n"
      "b7c8d9e0f1a2b3c4\tΣΟΦΙΑ, root@db:2222\n");
  EXPECT_EQ(render(Completion{{}, true}), ":files\n");
}

}  // namespace
}  // namespace sorvane
