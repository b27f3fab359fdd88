#include <windows.h>
#include <aclapi.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "platform/current_user_win.h"
#include "platform/private_log.h"

namespace sorvane {
namespace {

bool under_wine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The file gets a DACL of its own, protected from the folder's, with one
// entry: the current user's.
TEST(PrivateLog, CreatedForTheCurrentUserAlone) {
  if (under_wine()) GTEST_SKIP() << "Wine keeps no DACL on files; it makes a Unix mode of it";
  const auto dir = std::filesystem::temp_directory_path() /
                   ("sorvane-log-" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(dir);
  const NativePath path = (dir / "audit.log").native();
  ASSERT_TRUE(append_to_private_log(path, [](std::string_view) { return std::string("x\n"); }));

  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_NE(control & SE_DACL_PROTECTED, 0);
  ASSERT_NE(dacl, nullptr);
  ASSERT_EQ(dacl->AceCount, 1);
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, &ace));
  const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  auto user = current_token_user();
  ASSERT_TRUE(user);
  EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&allowed->SidStart),
                       reinterpret_cast<const TOKEN_USER*>(user->data())->User.Sid));
  LocalFree(descriptor);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace sorvane
