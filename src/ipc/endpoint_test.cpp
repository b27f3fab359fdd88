#include "ipc/endpoint.h"

#include <gtest/gtest.h>

#include "platform/absolute_path.h"

namespace sorvane {
namespace {

std::string digits_of(const std::string& name) { return name.substr(PIPE_PREFIX.size()); }

TEST(PipeName, EmptyTextHashesZeroBytes) {
  EXPECT_EQ(pipe_name_from_text(""), std::string(PIPE_PREFIX) + "e3b0c44298fc1c14");
}

TEST(PipeName, EmptyDataDirCannotBeMadeAbsoluteAndIsHashedAsIs) {
  EXPECT_EQ(pipe_name(NativePath()), std::string(PIPE_PREFIX) + "e3b0c44298fc1c14");
}

TEST(PipeName, IsPrefixAndSixteenLowerHexDigits) {
  struct Case {
    const char* text;
    const char* digits;
  };
  // "/data/79" hashes to 00 77 ab ...: leading zero digits are written out.
  for (const Case& c : {Case{"abc", "ba7816bf8f01cfea"}, Case{"/data/79", "0077ab358f0843b4"}}) {
    const std::string name = pipe_name_from_text(c.text);
    EXPECT_EQ(name.size(), 37u);
    EXPECT_TRUE(name.starts_with(R"(\\.\pipe\sorvane-cli-)"));
    EXPECT_EQ(digits_of(name), c.digits) << c.text;
  }
}

TEST(PipeName, IgnoresLetterCaseBeyondAscii) {
  EXPECT_EQ(pipe_name_from_text("/Data/HOSTS"), pipe_name_from_text("/data/hosts"));
  EXPECT_EQ(pipe_name_from_text("/Ä/ΣΟΦΟΣ"), pipe_name_from_text("/ä/σοφος"));
  EXPECT_NE(pipe_name_from_text("/a"), pipe_name_from_text("/b"));
}

TEST(PipeName, SameDirectorySpelledDifferentlyGivesSameName) {
  auto cwd = make_absolute(utf8_to_native("."));
  ASSERT_TRUE(cwd) << cwd.error().text;
  const std::string reference = pipe_name(*cwd);
  EXPECT_EQ(pipe_name(utf8_to_native(".")), reference);
  EXPECT_EQ(pipe_name(utf8_to_native("./sub/..")), reference);
  EXPECT_EQ(pipe_name_from_text(native_to_utf8_lossy(*cwd)), reference);
  EXPECT_NE(pipe_name(utf8_to_native("sub")), reference);
}

TEST(SocketPath, PicksTheRuntimeDirectory) {
  using Opt = std::optional<std::string>;
  const std::string name = pipe_name_from_text("");
  const std::string leaf = "sorvane-cli-e3b0c44298fc1c14";
  struct Case {
    Opt runtime;
    Opt temp;
    std::string expected;
  };
  const Case cases[] = {
      {"/run/user/1000", "/var/tmp", "/run/user/1000/" + leaf},
      {"", "/var/tmp/", "/var/tmp/" + leaf},
      {"run/user/1000", "/var/tmp", "/var/tmp/" + leaf},  // relative: unset
      {std::nullopt, "/var/tmp", "/var/tmp/" + leaf},
      {std::nullopt, "", "/tmp/" + leaf},
      {std::nullopt, std::nullopt, "/tmp/" + leaf},
  };
  for (const Case& c : cases) EXPECT_EQ(socket_path(name, c.runtime, c.temp), c.expected);
}

}  // namespace
}  // namespace sorvane
