// The desktop application's named pipe on Windows, and its owner check.
#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "ipc/connection.h"
#include "ipc/endpoint.h"
#include "platform/current_user_win.h"
#include "platform/os_error.h"
#include "platform/unique_handle_win.h"

namespace sorvane {

namespace {

int last_error() { return static_cast<int>(GetLastError()); }

// One open pipe handle, closed once. The handle is opened for overlapped
// I/O so that every read and write can wait on three things at once: its
// own completion, shut_down() and the deadline. Each call still finishes
// before it returns, so to its caller the pipe is a plain blocking stream.
class PipeHandle final : public PipeConnection::Handle {
 public:
  PipeHandle(UniqueHandle handle, UniqueHandle shut)
      : handle_(std::move(handle)), shut_(std::move(shut)) {}

  HANDLE get() const { return handle_.get(); }

  IoResult<std::size_t> read_some(MutableByteSpan buffer) override {
    const Outcome done = transfer([&](OVERLAPPED& op) {
      return ReadFile(get(), buffer.data(), clamp(buffer.size()), nullptr, &op);
    });
    switch (done.error) {
      case ERROR_SUCCESS:
      case ERROR_MORE_DATA:  // a message-mode server: the rest comes with the next read
        return done.bytes;
      case ERROR_BROKEN_PIPE:  // the server closed its end: the end of the stream
      case ERROR_PIPE_NOT_CONNECTED:
        return std::size_t{0};
      case ERROR_OPERATION_ABORTED:
        if (is_shut()) return std::size_t{0};
        break;
      case ERROR_TIMEOUT:
        return fail(timed_out());
      default:
        break;
    }
    return fail(os_error(static_cast<int>(done.error)));
  }

  IoResult<std::size_t> write_some(ByteSpan bytes) override {
    const Outcome done = transfer([&](OVERLAPPED& op) {
      return WriteFile(get(), bytes.data(), clamp(bytes.size()), nullptr, &op);
    });
    if (done.error == ERROR_SUCCESS) return done.bytes;
    if (done.error == ERROR_TIMEOUT) return fail(timed_out());
    return fail(os_error(static_cast<int>(done.error)));
  }

  // The event stays set: a call in flight wakes, and later calls see it
  // before they start.
  void shut_down() noexcept override { SetEvent(shut_.get()); }

 private:
  struct Outcome {
    DWORD bytes = 0;
    DWORD error = ERROR_SUCCESS;  // ERROR_OPERATION_ABORTED when shut down, ERROR_TIMEOUT
  };

  bool is_shut() const { return WaitForSingleObject(shut_.get(), 0) == WAIT_OBJECT_0; }

  template <class Start>
  Outcome transfer(const Start& start) {
    if (is_shut()) return {0, ERROR_OPERATION_ABORTED};
    if (deadline().expired()) return {0, ERROR_TIMEOUT};
    const UniqueHandle finished(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!finished.valid()) return {0, GetLastError()};
    OVERLAPPED op{};
    op.hEvent = finished.get();
    // A call that did not start has nothing to wait for; ERROR_MORE_DATA
    // has finished, and its count comes from GetOverlappedResult.
    if (!start(op)) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) return {0, error};
    }
    const HANDLE wake[] = {finished.get(), shut_.get()};
    DWORD woken = WAIT_TIMEOUT;
    do {
      const int left = deadline().wait_ms();
      woken =
          WaitForMultipleObjects(2, wake, FALSE, left < 0 ? INFINITE : static_cast<DWORD>(left));
    } while (woken == WAIT_TIMEOUT && !deadline().expired());
    if (woken != WAIT_OBJECT_0) CancelIoEx(get(), &op);
    // Waits for the call to end either way: what it did before the cancel
    // took hold is kept.
    Outcome outcome;
    if (!GetOverlappedResult(get(), &op, &outcome.bytes, TRUE)) outcome.error = GetLastError();
    if (outcome.error == ERROR_OPERATION_ABORTED && woken == WAIT_TIMEOUT) {
      outcome.error = ERROR_TIMEOUT;
    }
    return outcome;
  }

  static DWORD clamp(std::size_t size) {
    return static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
  }
  UniqueHandle handle_;
  UniqueHandle shut_;  // a manual-reset event, set by shut_down()
};

class WindowsPipes final : public PipeSystem {
 public:
  // CreateFileW does not wait for a busy pipe (wait_busy does), so the
  // deadline has nothing to bound here.
  Result<std::unique_ptr<PipeConnection::Handle>, int> open(std::string_view pipe_name,
                                                            const Deadline&) override {
    const std::wstring name = endpoint_address(pipe_name);
    // Identification only: the server may learn who we are but not act as us.
    UniqueHandle pipe(CreateFileW(
        name.c_str(), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (!pipe.valid()) return fail(last_error());
    UniqueHandle shut(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!shut.valid()) return fail(last_error());
    return std::unique_ptr<PipeConnection::Handle>(
        std::make_unique<PipeHandle>(std::move(pipe), std::move(shut)));
  }

  OpenFailure classify(int error_code) const override {
    return classify_windows_open_error(static_cast<unsigned long>(error_code));
  }

  void wait_busy(std::string_view pipe_name, int milliseconds) override {
    // Whatever the wait reports, the caller simply tries to open again.
    (void)WaitNamedPipeW(endpoint_address(pipe_name).c_str(), static_cast<DWORD>(milliseconds));
  }

  Result<bool, int> owner_accepted(PipeConnection::Handle& handle) override {
    // Wine creates pipes without an owner: those are refused.
    return owned_by_current_user(static_cast<PipeHandle&>(handle).get(), SE_KERNEL_OBJECT);
  }
};

}  // namespace

PipeSystem& system_pipes() {
  static WindowsPipes pipes;
  return pipes;
}

}  // namespace sorvane
