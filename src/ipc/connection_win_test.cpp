#include "ipc/connection.h"

#include <windows.h>
#include <aclapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "ipc/endpoint.h"
#include "ipc/silent_peer_checks_for_tests.h"
#include "platform/os_error.h"

namespace sorvane {
namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

using SidBuffer = std::vector<void*>;  // pointer-aligned storage for a SID

SidBuffer well_known_sid(WELL_KNOWN_SID_TYPE type) {
  SidBuffer sid(SECURITY_MAX_SID_SIZE / sizeof(void*) + 1);
  DWORD size = SECURITY_MAX_SID_SIZE;
  if (!CreateWellKnownSid(type, nullptr, sid.data(), &size)) sid.clear();
  return sid;
}

SidBuffer current_user_sid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  Handle token(raw);
  SidBuffer buffer(256);
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, buffer.data(),
                           static_cast<DWORD>(buffer.size() * sizeof(void*)), &size)) {
    return {};
  }
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
  SidBuffer sid(SECURITY_MAX_SID_SIZE / sizeof(void*) + 1);
  CopySid(SECURITY_MAX_SID_SIZE, sid.data(), user->User.Sid);
  return sid;
}

const std::string NAME = pipe_name_from_text("windows connection test");

// A server instance of NAME; `owner` empty = the system's default security.
Handle create_server(const SidBuffer* owner, DWORD max_instances = PIPE_UNLIMITED_INSTANCES) {
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);  // anyone may open it
  if (owner != nullptr)
    SetSecurityDescriptorOwner(&descriptor, const_cast<void**>(owner->data()), FALSE);
  const std::wstring name = endpoint_address(NAME);
  return Handle(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, max_instances,
                                 4096, 4096, 0, owner != nullptr ? &attributes : nullptr));
}

// Whether the system kept the owner we asked for on the server's pipe.
bool server_owner_is(const Handle& server, const SidBuffer& expected) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(server.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool same = owner != nullptr && EqualSid(owner, const_cast<void**>(expected.data()));
  LocalFree(descriptor);
  return same;
}

DWORD bytes_waiting(const Handle& server) {
  DWORD available = 0;
  PeekNamedPipe(server.get(), nullptr, 0, nullptr, &available, nullptr);
  return available;
}

TEST(WindowsConnect, MissingPipeIsNotRunningWithoutWaiting) {
  const auto start = std::chrono::steady_clock::now();
  auto result = connect(pipe_name_from_text("nobody listens here"));
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ConnectErrorKind::NotRunning);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
}

TEST(WindowsConnect, PipeOwnedByTheCurrentUserIsAcceptedAndCarriesBytes) {
  const SidBuffer user = current_user_sid();
  ASSERT_FALSE(user.empty());
  Handle server = create_server(&user);
  ASSERT_TRUE(server.valid()) << GetLastError();
  auto result = connect(NAME);
  ASSERT_TRUE(result) << to_tool_error(result.error()).message;
  ASSERT_TRUE(write_all(*result, as_bytes("ping")));

  char got[8] = {};
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(server.get(), got, sizeof(got), &read, nullptr));
  EXPECT_EQ(std::string(got, read), "ping");
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(server.get(), "pong", 4, &written, nullptr));

  std::uint8_t buffer[8];
  auto reply = result->read_some(buffer);
  ASSERT_TRUE(reply) << reply.error().text;
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), *reply), "pong");
  DisconnectNamedPipe(server.get());
  auto end = result->read_some(buffer);  // the server went away: end of stream
  ASSERT_TRUE(end) << end.error().text;
  EXPECT_EQ(*end, 0u);
}

TEST(WindowsConnect, PipeOwnedByAdministratorsIsAccepted) {
  const SidBuffer admins = well_known_sid(WinBuiltinAdministratorsSid);
  Handle server = create_server(&admins);
  ASSERT_TRUE(server.valid()) << GetLastError();
  if (!server_owner_is(server, admins)) GTEST_SKIP() << "the system did not keep the owner";
  auto result = connect(NAME);
  EXPECT_TRUE(result) << to_tool_error(result.error()).message;
}

TEST(WindowsConnect, PipeOwnedBySystemIsRefusedWithNothingWritten) {
  const SidBuffer system = well_known_sid(WinLocalSystemSid);
  Handle server = create_server(&system);
  ASSERT_TRUE(server.valid()) << GetLastError();
  if (!server_owner_is(server, system)) GTEST_SKIP() << "the system did not keep the owner";
  auto result = connect(NAME);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ConnectErrorKind::ForeignOwner);
  EXPECT_EQ(bytes_waiting(server), 0u);
}

TEST(WindowsConnect, PipeWithoutOwnerIsRefused) {
  Handle server = create_server(nullptr);
  ASSERT_TRUE(server.valid()) << GetLastError();
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(server.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                            nullptr, nullptr, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  const bool ownerless = owner == nullptr;
  LocalFree(descriptor);
  if (!ownerless) GTEST_SKIP() << "this system gives pipes a default owner";
  auto result = connect(NAME);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ConnectErrorKind::ForeignOwner);
}

TEST(WindowsConnect, DeadlinesAndCancellationEndWaitsOnASilentServer) {
  const SidBuffer user = current_user_sid();
  Handle server = create_server(&user);
  ASSERT_TRUE(server.valid()) << GetLastError();
  auto result = connect(NAME);
  ASSERT_TRUE(result) << to_tool_error(result.error()).message;
  testing::expect_reads_and_writes_time_out(*result);
  testing::expect_cancel_ends_a_read_with_a_far_deadline(*result);
}

TEST(WindowsConnect, BusyPipeEndsAtTheDeadline) {
  const SidBuffer user = current_user_sid();
  Handle server = create_server(&user, 1);
  ASSERT_TRUE(server.valid()) << GetLastError();
  auto first = connect(NAME);
  ASSERT_TRUE(first) << to_tool_error(first.error()).message;
  auto second = connect(NAME, Deadline::after(std::chrono::milliseconds(20)));
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().io.kind, IoErrorKind::TimedOut) << second.error().io.text;
}

TEST(WindowsConnect, PipeBusyThroughFiveWaitsIsTheBusyError) {
  const SidBuffer user = current_user_sid();
  Handle server = create_server(&user, 1);
  ASSERT_TRUE(server.valid()) << GetLastError();
  auto first = connect(NAME);
  ASSERT_TRUE(first) << to_tool_error(first.error()).message;

  const auto start = std::chrono::steady_clock::now();
  auto second = connect(NAME);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().kind, ConnectErrorKind::Io);
  EXPECT_EQ(second.error().io.text, os_error(ERROR_PIPE_BUSY).text);
  EXPECT_EQ(to_tool_error(second.error()).message,
            "与 Sorvane 的连接意外中断：" + os_error(ERROR_PIPE_BUSY).text);
  EXPECT_GE(elapsed, std::chrono::milliseconds(4500));
}

}  // namespace
}  // namespace sorvane
