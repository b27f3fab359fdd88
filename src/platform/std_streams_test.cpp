#include "platform/std_streams.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

TEST(MsysPtyPipeName, OnlyThePseudoTerminalPipesOfMsysAndCygwin) {
  struct Case {
    std::u16string name;
    bool expected;
  };
  const Case cases[] = {
      {u"\\msys-1888ae32e00d56aa-pty0-to-master", true},
      {u"\\cygwin-e022582115c10879-pty3-from-master", true},
      {u"\\Device\\NamedPipe\\msys-dd50a72ab4668b33-pty1-to-master", true},
      {u"msys-x-pty", true},
      {u"\\msys-1888ae32e00d56aa-pipe-0x11", false},  // an ordinary pipe of an MSYS program
      {u"\\x-msys-1888ae32e00d56aa-pty0", false},     // must start with the prefix
      {u"\\msys-pty\\other-name", false},             // only the part after the last backslash
      {u"\\MSYS-1888ae32e00d56aa-pty0", false},
      {u"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_msys_pty_pipe_name(c.name), c.expected)
        << std::string(c.name.begin(), c.name.end());
  }
}

}  // namespace
}  // namespace sorvane
