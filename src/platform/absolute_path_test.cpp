#include "platform/absolute_path.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

struct PosixPathCase {
  const char* name;
  const char* path;
  const char* cwd;
  const char* expected;
};

void PrintTo(const PosixPathCase& c, std::ostream* out) {
  *out << '"' << c.path << "\" in \"" << c.cwd << '"';
}

class MakeAbsolutePosix : public ::testing::TestWithParam<PosixPathCase> {};

TEST_P(MakeAbsolutePosix, FoldsLikeThePosixRule) {
  const PosixPathCase& c = GetParam();
  auto result = make_absolute_posix(c.path, c.cwd);
  ASSERT_TRUE(result) << result.error().text;
  EXPECT_EQ(*result, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MakeAbsolutePosix,
    ::testing::Values(PosixPathCase{"Absolute", "/a/b", "/cwd", "/a/b"},
                      PosixPathCase{"Relative", "a/b", "/home/u", "/home/u/a/b"},
                      PosixPathCase{"Dot", ".", "/home/u", "/home/u"},
                      PosixPathCase{"DotsInside", "./a/./b/.", "/", "/a/b"},
                      PosixPathCase{"DotDot", "../x", "/home/u", "/home/x"},
                      PosixPathCase{"DotDotPastRoot", "a/../../..", "/home/u", "/"},
                      PosixPathCase{"RootDotDot", "/..", "/cwd", "/"},
                      PosixPathCase{"DotsAndSlashes", "/../a/..//b", "/cwd", "/b"},
                      PosixPathCase{"RepeatedSlashes", "//a///b//", "/cwd", "/a/b"},
                      PosixPathCase{"Root", "/", "/cwd", "/"},
                      PosixPathCase{"TrailingSlash", "a/", "/", "/a"},
                      PosixPathCase{"ThreeDotsAreAName", "...", "/c",
                                    "/c/..."},  // only "." and ".." are special
                      PosixPathCase{"BackslashIsAName", "a\\b", "/c", "/c/a\\b"},
                      PosixPathCase{"NotUtf8", "\xff/\xfe", "/c", "/c/\xff/\xfe"}),
    [](const ::testing::TestParamInfo<PosixPathCase>& param) {
      return std::string(param.param.name);
    });

TEST(MakeAbsolutePosixEmpty, Fails) {
  auto result = make_absolute_posix("", "/cwd");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().text, "cannot make an empty path absolute");
}

TEST(MakeAbsolute, EmptyPathFailsOnEveryPlatform) {
  auto result = make_absolute(NativePath());
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().text, "cannot make an empty path absolute");
}

}  // namespace
}  // namespace sorvane
