// The desktop application's named pipe on Windows, and its owner check.
#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "ipc/connection.h"
#include "ipc/endpoint.h"
#include "platform/current_user_win.h"
#include "platform/os_error.h"
#include "platform/unique_handle_win.h"

namespace sorvane {

namespace {

// One open pipe handle, closed once.
class PipeHandle final : public PipeConnection::Handle {
 public:
  explicit PipeHandle(HANDLE handle) : handle_(handle) {}

  HANDLE get() const { return handle_.get(); }

  IoResult<std::size_t> read_some(MutableByteSpan buffer) override {
    const InFlight io(in_flight_);
    if (shut_.load()) return std::size_t{0};
    DWORD got = 0;
    if (ReadFile(get(), buffer.data(), clamp(buffer.size()), &got, nullptr)) return got;
    const DWORD error = GetLastError();
    // A message-mode server: the rest of the message comes with the next read.
    if (error == ERROR_MORE_DATA) return got;
    // The server closed its end: the end of the stream.
    if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) return std::size_t{0};
    if (error == ERROR_OPERATION_ABORTED && shut_.load()) return std::size_t{0};
    return fail(os_error(static_cast<int>(error)));
  }

  IoResult<std::size_t> write_some(ByteSpan bytes) override {
    const InFlight io(in_flight_);
    if (shut_.load()) return fail(os_error(ERROR_OPERATION_ABORTED));
    DWORD written = 0;
    if (WriteFile(get(), bytes.data(), clamp(bytes.size()), &written, nullptr)) return written;
    return fail(os_error(static_cast<int>(GetLastError())));
  }

  // Synchronous pipe I/O has no wake-up call of its own: mark the handle shut
  // (later calls see it before they start), then cancel the call in flight.
  // The flag is set before in_flight_ is read, and the I/O sets in_flight_
  // before it reads the flag, so one of the two always sees the other. A
  // read that will not cancel is left to end with the process.
  void shut_down() noexcept override {
    shut_.store(true);
    for (int attempt = 0; attempt < kCancelAttempts && in_flight_.load(); ++attempt) {
      CancelIoEx(get(), nullptr);
      Sleep(1);
    }
  }

 private:
  static constexpr int kCancelAttempts = 200;

  class InFlight {
   public:
    explicit InFlight(std::atomic<bool>& flag) : flag_(flag) { flag_.store(true); }
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;
    ~InFlight() { flag_.store(false); }

   private:
    std::atomic<bool>& flag_;
  };

  static DWORD clamp(std::size_t size) {
    return static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
  }
  UniqueHandle handle_;
  std::atomic<bool> shut_{false};
  std::atomic<bool> in_flight_{false};
};

// A security descriptor that the system allocated, released with LocalFree.
class LocalSecurityDescriptor {
 public:
  LocalSecurityDescriptor() = default;
  LocalSecurityDescriptor(const LocalSecurityDescriptor&) = delete;
  LocalSecurityDescriptor& operator=(const LocalSecurityDescriptor&) = delete;
  ~LocalSecurityDescriptor() { LocalFree(descriptor_); }
  PSECURITY_DESCRIPTOR* out() { return &descriptor_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

int last_error() { return static_cast<int>(GetLastError()); }

class WindowsPipes final : public PipeSystem {
 public:
  Result<std::unique_ptr<PipeConnection::Handle>, int> open(std::string_view pipe_name) override {
    const std::wstring name = endpoint_address(pipe_name);
    // Identification only: the server may learn who we are but not act as us.
    const HANDLE handle =
        CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return fail(last_error());
    return std::unique_ptr<PipeConnection::Handle>(std::make_unique<PipeHandle>(handle));
  }

  OpenFailure classify(int error_code) const override {
    return classify_windows_open_error(static_cast<unsigned long>(error_code));
  }

  void wait_busy(std::string_view pipe_name, int milliseconds) override {
    // Whatever the wait reports, the caller simply tries to open again.
    (void)WaitNamedPipeW(endpoint_address(pipe_name).c_str(), static_cast<DWORD>(milliseconds));
  }

  Result<bool, int> owner_accepted(PipeConnection::Handle& handle) override {
    LocalSecurityDescriptor descriptor;
    PSID owner = nullptr;
    const DWORD status = GetSecurityInfo(static_cast<PipeHandle&>(handle).get(), SE_KERNEL_OBJECT,
                                         OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                         nullptr, descriptor.out());
    if (status != ERROR_SUCCESS) return fail(static_cast<int>(status));
    auto token_user = current_token_user();
    if (!token_user) return fail(token_user.error());
    // An object without an owner (Wine creates such pipes) belongs to nobody we trust.
    if (owner == nullptr || !IsValidSid(owner)) return false;
    const auto* user = reinterpret_cast<const TOKEN_USER*>(token_user->data());
    return EqualSid(owner, user->User.Sid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
  }
};

}  // namespace

PipeSystem& system_pipes() {
  static WindowsPipes pipes;
  return pipes;
}

}  // namespace sorvane
