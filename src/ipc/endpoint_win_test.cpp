#include "ipc/endpoint.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/absolute_path.h"
#include "platform/env.h"

namespace sorvane {
namespace {

TEST(WindowsEndpoint, SpellingsOfOneDirectoryGiveOneName) {
  const std::string reference = pipe_name(L"D:\\Data\\Hosts");
  EXPECT_EQ(pipe_name(L"d:\\data\\hosts\\."), reference);
  EXPECT_EQ(pipe_name(L"D:/DATA/Hosts/sub/.."), reference);
  EXPECT_NE(pipe_name(L"D:\\Data\\Hosts2"), reference);
}

TEST(WindowsEndpoint, RelativeDirectoryDependsOnTheCurrentDirectory) {
  auto absolute = make_absolute(L"rel");
  ASSERT_TRUE(absolute) << absolute.error().text;
  EXPECT_EQ(pipe_name(L"rel"), pipe_name(*absolute));
  EXPECT_NE(pipe_name(L"rel"), pipe_name(L"C:\\rel"));
}

TEST(WindowsEndpoint, VerbatimPathsAreLeftAlone) {
  auto path = make_absolute(L"\\\\?\\D:\\a\\..\\b");
  ASSERT_TRUE(path);
  EXPECT_EQ(*path, L"\\\\?\\D:\\a\\..\\b");
}

TEST(WindowsEndpoint, UnpairedSurrogateIsHashedAsReplacementCharacter) {
  EXPECT_EQ(pipe_name(std::wstring(L"C:\\a") + wchar_t(0xD800)), pipe_name(L"C:\\a\uFFFD"));
}

TEST(WindowsEndpoint, AddressIsThePipeNameItself) {
  const std::string name = pipe_name_from_text("");
  EXPECT_EQ(endpoint_address(name), L"\\\\.\\pipe\\sorvane-cli-e3b0c44298fc1c14");
}

class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
    old_ = environment_variable(name);
    SetEnvironmentVariableW(name, value);
  }
  ~ScopedVariable() { SetEnvironmentVariableW(name_, old_ ? old_->c_str() : nullptr); }

 private:
  const wchar_t* name_;
  std::optional<std::wstring> old_;
};

TEST(WindowsDataDir, VariableIsPresentEvenWhenEmpty) {
  {
    ScopedVariable data(L"SORVANE_DATA_DIR", L"");
    EXPECT_EQ(data_dir(), L"");
    EXPECT_EQ(pipe_name(data_dir()), std::string(PIPE_PREFIX) + "e3b0c44298fc1c14");
  }
  {
    ScopedVariable data(L"SORVANE_DATA_DIR", L"x\\..\\Y");
    EXPECT_EQ(data_dir(), L"x\\..\\Y");
  }
}

TEST(WindowsDataDir, DefaultIsTheRoamingFolderWithSorvane) {
  ScopedVariable data(L"SORVANE_DATA_DIR", nullptr);
  auto folder = user_data_folder();
  ASSERT_TRUE(folder);
  EXPECT_FALSE(folder->empty());
  const std::wstring dir = data_dir();
  EXPECT_EQ(dir, append_path_component(*folder, L"sorvane"));
  EXPECT_TRUE(dir.ends_with(L"\\sorvane"));
  EXPECT_EQ(append_path_component(L"C:\\x\\", L"sorvane"), L"C:\\x\\sorvane");
  EXPECT_EQ(append_path_component(L"C:\\x", L"sorvane"), L"C:\\x\\sorvane");
}

}  // namespace
}  // namespace sorvane
