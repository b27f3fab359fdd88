#include "platform/full_path.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

struct PosixPathCase {
  const char* path;
  const char* cwd;
  const char* expected;
};

class AbsolutePosixPath : public ::testing::TestWithParam<PosixPathCase> {};

TEST_P(AbsolutePosixPath, FoldsLikeThePosixRule) {
  const PosixPathCase& c = GetParam();
  auto result = absolute_posix_path(c.path, c.cwd);
  ASSERT_TRUE(result) << result.error().text;
  EXPECT_EQ(*result, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AbsolutePosixPath,
    ::testing::Values(PosixPathCase{"/a/b", "/cwd", "/a/b"},
                      PosixPathCase{"a/b", "/home/u", "/home/u/a/b"},
                      PosixPathCase{".", "/home/u", "/home/u"},
                      PosixPathCase{"./a/./b/.", "/", "/a/b"},
                      PosixPathCase{"../x", "/home/u", "/home/x"},
                      PosixPathCase{"a/../../..", "/home/u", "/"},
                      PosixPathCase{"/..", "/cwd", "/"},
                      PosixPathCase{"/../a/..//b", "/cwd", "/b"},
                      PosixPathCase{"//a///b//", "/cwd", "/a/b"},
                      PosixPathCase{"/", "/cwd", "/"},
                      PosixPathCase{"a/", "/", "/a"},
                      PosixPathCase{"...", "/c", "/c/..."},  // only "." and ".." are special
                      PosixPathCase{"a\\b", "/c", "/c/a\\b"},
                      PosixPathCase{"\xff/\xfe", "/c", "/c/\xff/\xfe"}));

TEST(AbsolutePosixPathEmpty, Fails) {
  auto result = absolute_posix_path("", "/cwd");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().text, "cannot make an empty path absolute");
}

TEST(FullPath, EmptyPathFailsOnEveryPlatform) {
  auto result = full_path(NativePath());
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().text, "cannot make an empty path absolute");
}

}  // namespace
}  // namespace sorvane
