// The client end of the desktop application's pipe, checked to belong to the
// current user before a byte is written.
#pragma once

#include <memory>
#include <string_view>

#include "base/deadline.h"
#include "base/io.h"
#include "base/result.h"
#include "protocol/error_code.h"

namespace sorvane {

enum class ConnectErrorKind { NotRunning, Denied, ForeignOwner, Io };

struct ConnectError {
  ConnectErrorKind kind = ConnectErrorKind::Io;
  IoError io;  // meaningful for Io only
};

// The error line for a failed connection (code and message).
ToolError to_tool_error(const ConnectError& error);

// Owns the open pipe (handle or socket) and closes it on every path.
// A plain synchronous byte stream in both directions.
class PipeConnection : public ByteReader, public ByteWriter {
 public:
  // The platform's RAII owner of the open pipe or socket.
  class Handle : public ByteReader, public ByteWriter {
   public:
    // Safe from any thread while another one reads or writes: ends the
    // stream at once (reads see its end, writes fail) without closing the
    // handle, which stays with its one owner.
    virtual void shut_down() noexcept = 0;

    // The limit of every read and write that starts after it is set; an
    // operation still unfinished then fails with timed_out().
    void set_deadline(const Deadline& deadline) { deadline_ = deadline; }
    const Deadline& deadline() const { return deadline_; }

   private:
    Deadline deadline_;
  };

  explicit PipeConnection(std::unique_ptr<Handle> handle);
  PipeConnection(PipeConnection&&) noexcept;
  PipeConnection& operator=(PipeConnection&&) noexcept;
  PipeConnection(const PipeConnection&) = delete;
  PipeConnection& operator=(const PipeConnection&) = delete;
  ~PipeConnection() override;

  IoResult<std::size_t> read_some(MutableByteSpan buffer) override;
  IoResult<std::size_t> write_some(ByteSpan bytes) override;
  void shut_down() noexcept { handle_->shut_down(); }

  // Bounds every later read and write: one that has not finished by then
  // fails with timed_out() (IoErrorKind::TimedOut), and the conversation is
  // over. Set it once for a whole conversation, or move it forward before
  // each read for a limit on silence. A default Deadline waits for ever.
  // For the thread that reads and writes; shut_down() still works with it.
  void set_deadline(const Deadline& deadline) { handle_->set_deadline(deadline); }
  const Deadline& deadline() const { return handle_->deadline(); }

 private:
  std::unique_ptr<Handle> handle_;
};

// Opens `pipe_name` (the \\.\pipe\ form; other platforms map it to their
// own endpoint), waiting while it is busy, and checks its owner. Opening
// ends by `deadline` at the latest, with an Io error of kind TimedOut; the
// connection keeps the deadline for its reads and writes until it is set
// again.
Result<PipeConnection, ConnectError> connect(std::string_view pipe_name,
                                             const Deadline& deadline = {});

// ---- The decisions of connect(), apart from the operating system ----

inline constexpr int BUSY_WAITS = 5;
inline constexpr int BUSY_WAIT_MS = 1000;

// What a failed open means.
enum class OpenFailure { Busy, NotRunning, Denied, Other };

// The operating system's side of connect(). Error codes are the system's own
// (GetLastError values on Windows, errno elsewhere).
class PipeSystem {
 public:
  virtual ~PipeSystem() = default;
  // One attempt, over by `deadline` (a busy endpoint may keep it waiting).
  virtual Result<std::unique_ptr<PipeConnection::Handle>, int> open(std::string_view pipe_name,
                                                                    const Deadline& deadline) = 0;
  virtual OpenFailure classify(int error_code) const = 0;
  // Waits up to `milliseconds` for a free instance; the result does not matter.
  virtual void wait_busy(std::string_view pipe_name, int milliseconds) = 0;
  // Whether the pipe's owner is the current user (or an accepted group).
  virtual Result<bool, int> owner_accepted(PipeConnection::Handle& handle) = 0;
  // The clock that deadlines are measured on.
  virtual Deadline::Clock::time_point now() const { return Deadline::Clock::now(); }
};

// The real operating system.
PipeSystem& system_pipes();

// connect() over any PipeSystem: opens with up to `busy_waits` waits while
// busy (none when missing), no wait reaching past `deadline`, then checks the
// owner; a refused pipe is closed before anything is written.
Result<PipeConnection, ConnectError> connect_with(PipeSystem& system, std::string_view pipe_name,
                                                  const Deadline& deadline = {},
                                                  int busy_waits = BUSY_WAITS);

// The Windows classification of open errors (system error codes).
OpenFailure classify_windows_open_error(unsigned long error_code);

}  // namespace sorvane
