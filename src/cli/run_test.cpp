#include "cli/run.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

TEST(WantsJson, FlagOrRedirectedOutput) {
  struct Case {
    Cli cli;
    bool terminal = false;
    bool expected = false;
  };
  const Case cases[] = {
      {{Cli::List{}}, true, false},
      {{Cli::List{}}, false, true},
      {{Cli::List{{std::nullopt}, true}}, true, true},
      {{Cli::Exec{"h", "ls", false}}, true, false},
      {{Cli::Exec{"h", "ls", false}}, false, true},
      {{Cli::Upload{{"h", utf8_to_native("a"), "b"}, true}}, true, true},
      {{Cli::Download{{"h", "a", utf8_to_native("b")}, false}}, true, false},
      {{Cli::Download{{"h", "a", utf8_to_native("b")}, false}}, false, true},
  };
  for (const auto& c : cases) EXPECT_EQ(wants_json(c.cli, c.terminal), c.expected);
}

}  // namespace
}  // namespace sorvane
