// Ending a conversation from another thread: the thread that holds the
// conversation attaches its connection; cancel() shuts that connection down
// at once, so the blocked read returns and the conversation ends.
#pragma once

#include <mutex>

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
  PipeConnection* attached_ = nullptr;
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
};

}  // namespace sorvane
