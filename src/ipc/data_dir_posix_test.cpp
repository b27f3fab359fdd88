// The data directory on POSIX, and the environment lookup it stands on.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ipc/endpoint.h"
#include "platform/env.h"

namespace sorvane {
namespace {

// Sets (or with nullptr removes) a variable, restoring it afterwards.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;
  ~ScopedVariable() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(Environment, DefinedButEmptyIsPresent) {
  ScopedVariable empty("SORVANE_TEST_EMPTY", "");
  ScopedVariable unset("SORVANE_TEST_UNSET", nullptr);
  EXPECT_EQ(environment_variable("SORVANE_TEST_EMPTY"), std::optional<std::string>(""));
  EXPECT_EQ(environment_variable("SORVANE_TEST_UNSET"), std::nullopt);
}

TEST(DataDir, VariableIsTakenUnchangedEvenWhenEmptyOrRelative) {
  for (const char* value : {"", "rel/../dir", "/Abs/Dir/"}) {
    ScopedVariable data("SORVANE_DATA_DIR", value);
    EXPECT_EQ(data_dir(), value);
  }
}

TEST(DataDir, DefaultFollowsXdgThenHomeThenCurrentDirectory) {
  struct Case {
    const char* xdg;
    const char* home;
    const char* expected;
  };
  const Case cases[] = {
      {"/xdg", "/home/u", "/xdg/sorvane"},
      {"/xdg/", "/home/u", "/xdg/sorvane"},
      {"relative", "/home/u", "/home/u/.config/sorvane"},  // a relative XDG value is ignored
      {"", "/home/u", "/home/u/.config/sorvane"},
      {nullptr, "/home/u/", "/home/u/.config/sorvane"},
      {nullptr, "", "."},
      {nullptr, nullptr, "."},
  };
  ScopedVariable data("SORVANE_DATA_DIR", nullptr);
  for (const Case& c : cases) {
    ScopedVariable xdg("XDG_CONFIG_HOME", c.xdg);
    ScopedVariable home("HOME", c.home);
    EXPECT_EQ(data_dir(), c.expected) << (c.xdg ? c.xdg : "-") << " " << (c.home ? c.home : "-");
  }
}

}  // namespace
}  // namespace sorvane
