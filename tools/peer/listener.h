// The server end of the pipe: a Unix-domain socket on POSIX, a named pipe
// on Windows, owned by the current user and reachable by it alone.
#pragma once

#include <memory>
#include <string>

#include "base/io.h"
#include "base/result.h"
#include "shell.h"
#include "text/native_string.h"

namespace sorvane::peer {

// One accepted client. Closing hands every written byte to the client
// before the connection goes away. A command run for it watches whether
// the client hangs up (ClientEnd).
class PeerConnection : public ByteReader, public ByteWriter, public ClientEnd {
 public:
  virtual void close() = 0;
};

class Listener {
 public:
  struct State;  // the platform's RAII owners

  // Starts listening at `path` (from endpoint_address). Refuses when
  // another server already listens there; a stale socket file is replaced.
  // With `one_instance`, a Windows pipe has a single instance, which listens
  // again once its client is served: others find the pipe busy meanwhile.
  static Result<Listener, std::string> open(const NativePath& path, bool one_instance = false);

  explicit Listener(std::unique_ptr<State> state);
  Listener(Listener&&) noexcept;
  Listener& operator=(Listener&&) noexcept;
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  ~Listener();

  // Waits for the next client. With `more_to_come`, the next client can
  // already connect while this one is served, so that clients started one
  // after another never find the endpoint missing.
  IoResult<std::unique_ptr<PeerConnection>> accept(bool more_to_come);

 private:
  std::unique_ptr<State> state_;
};

}  // namespace sorvane::peer
