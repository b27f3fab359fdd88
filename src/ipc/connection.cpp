#include "ipc/connection.h"

#include <algorithm>
#include <string>

#include "platform/os_error.h"

namespace sorvane {

ToolError to_tool_error(const ConnectError& error) {
  switch (error.kind) {
    case ConnectErrorKind::NotRunning:
      return {ErrorCode::NotRunning, std::string(messages::NOT_RUNNING)};
    case ConnectErrorKind::Denied:
      return {ErrorCode::ConnectFailed, std::string(messages::DENIED)};
    case ConnectErrorKind::ForeignOwner:
      return {ErrorCode::ConnectFailed, std::string(messages::FOREIGN_OWNER)};
    case ConnectErrorKind::Io:
      break;
  }
  return connection_broken(error.io.text);
}

PipeConnection::PipeConnection(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
PipeConnection::PipeConnection(PipeConnection&&) noexcept = default;
PipeConnection& PipeConnection::operator=(PipeConnection&&) noexcept = default;
PipeConnection::~PipeConnection() = default;

IoResult<std::size_t> PipeConnection::read_some(MutableByteSpan buffer) {
  return handle_->read_some(buffer);
}

IoResult<std::size_t> PipeConnection::write_some(ByteSpan bytes) {
  return handle_->write_some(bytes);
}

namespace {

ConnectError io_failure(int error_code) { return {ConnectErrorKind::Io, os_error(error_code)}; }

// A busy wait of the usual length, cut short by the deadline; 0 once it has passed.
int busy_wait_ms(const Deadline& deadline, Deadline::Clock::time_point now) {
  const int left = deadline.wait_ms(now);
  return left < 0 ? BUSY_WAIT_MS : std::min(BUSY_WAIT_MS, left);
}

Result<std::unique_ptr<PipeConnection::Handle>, ConnectError> open_waiting_while_busy(
    PipeSystem& system, std::string_view pipe_name, const Deadline& deadline, int busy_waits) {
  const ConnectError too_late{ConnectErrorKind::Io, timed_out()};
  for (int waits = 0;; ++waits) {
    if (deadline.expired(system.now())) return fail(too_late);
    auto opened = system.open(pipe_name, deadline);
    if (opened) return std::move(*opened);
    const int code = opened.error();
    switch (system.classify(code)) {
      case OpenFailure::Busy: {
        if (waits >= busy_waits) return fail(io_failure(code));
        const int wait_ms = busy_wait_ms(deadline, system.now());
        if (wait_ms == 0) return fail(too_late);
        system.wait_busy(pipe_name, wait_ms);
        continue;
      }
      case OpenFailure::NotRunning:
        return fail(ConnectError{ConnectErrorKind::NotRunning, {}});
      case OpenFailure::Denied:
        return fail(ConnectError{ConnectErrorKind::Denied, {}});
      case OpenFailure::Other:
        return fail(io_failure(code));
    }
  }
}

}  // namespace

Result<PipeConnection, ConnectError> connect_with(PipeSystem& system, std::string_view pipe_name,
                                                  const Deadline& deadline, int busy_waits) {
  auto handle = open_waiting_while_busy(system, pipe_name, deadline, busy_waits);
  if (!handle) return fail(std::move(handle).error());
  // On every refusal below the handle goes out of scope, closing the pipe
  // before a byte has been written.
  auto accepted = system.owner_accepted(**handle);
  if (!accepted) return fail(io_failure(accepted.error()));
  if (!*accepted) return fail(ConnectError{ConnectErrorKind::ForeignOwner, {}});
  (*handle)->set_deadline(deadline);
  return PipeConnection(std::move(*handle));
}

Result<PipeConnection, ConnectError> connect(std::string_view pipe_name, const Deadline& deadline) {
  return connect_with(system_pipes(), pipe_name, deadline);
}

OpenFailure classify_windows_open_error(unsigned long error_code) {
  switch (error_code) {
    case 231:  // ERROR_PIPE_BUSY
      return OpenFailure::Busy;
    case 2:   // ERROR_FILE_NOT_FOUND
    case 3:   // ERROR_PATH_NOT_FOUND
    case 15:  // ERROR_INVALID_DRIVE
    case 53:  // ERROR_BAD_NETPATH
    case 67:  // ERROR_BAD_NET_NAME
      return OpenFailure::NotRunning;
    case 5:      // ERROR_ACCESS_DENIED
    case 10013:  // WSAEACCES
      return OpenFailure::Denied;
    default:
      return OpenFailure::Other;
  }
}

}  // namespace sorvane
