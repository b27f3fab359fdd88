// The client end of the desktop application's pipe, checked to belong to the
// current user before a byte is written.
#pragma once

#include <memory>
#include <string_view>

#include "platform/io.h"
#include "platform/result.h"
#include "protocol/error_code.h"

namespace sorvane {

enum class ConnectErrorKind { NotRunning, Denied, ForeignOwner, Io };

struct ConnectError {
  ConnectErrorKind kind;
  IoError io;  // meaningful for Io only
};

// The error line for a failed connection (code and message).
ToolError to_tool_error(const ConnectError& error);

// Owns the open pipe (handle or socket) and closes it on every path.
// A plain synchronous byte stream in both directions.
class PipeConnection : public ByteReader, public ByteWriter {
 public:
  class Handle;  // the platform's RAII owner
  explicit PipeConnection(std::unique_ptr<Handle> handle);
  PipeConnection(PipeConnection&&) noexcept;
  PipeConnection& operator=(PipeConnection&&) noexcept;
  ~PipeConnection() override;

  IoResult<std::size_t> read_some(MutableByteSpan buffer) override;
  IoResult<std::size_t> write_some(ByteSpan bytes) override;

 private:
  std::unique_ptr<Handle> handle_;
};

// Opens `pipe_name` (the \\.\pipe\ form; other platforms map it to their
// own endpoint), waiting while it is busy, and checks its owner.
Result<PipeConnection, ConnectError> connect(std::string_view pipe_name);

}  // namespace sorvane
