// Ending conversations from another thread: each thread that holds a
// conversation attaches its connection; cancel() shuts every attached
// connection down at once, so the blocked reads return and the conversations
// end. One conversation or a whole fleet of them.
#pragma once

#include <mutex>
#include <vector>

#include "ipc/connection.h"

namespace sorvane {

class Cancellation {
 public:
  // Thread-safe and idempotent. A connection attached later is shut down as
  // soon as it is attached.
  void cancel();
  bool cancelled() const;

 private:
  friend class CancellationScope;

  mutable std::mutex mutex_;
  bool cancelled_ = false;
  std::vector<PipeConnection*> attached_;
};

// Attaches `connection` to `cancellation` (which may be null: nothing to do)
// for its own lifetime. It must end before the connection does: detaching
// waits for a cancel() in progress, so the handle is never shut down while
// or after its owner closes it.
class CancellationScope {
 public:
  CancellationScope(Cancellation* cancellation, PipeConnection& connection);
  CancellationScope(const CancellationScope&) = delete;
  CancellationScope& operator=(const CancellationScope&) = delete;
  ~CancellationScope();

 private:
  Cancellation* cancellation_;
  PipeConnection& connection_;
};

}  // namespace sorvane
