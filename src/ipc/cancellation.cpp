#include "ipc/cancellation.h"

#include <algorithm>

namespace sorvane {

void Cancellation::cancel() {
  const std::lock_guard lock(mutex_);
  cancelled_ = true;
  for (PipeConnection* connection : attached_) connection->shut_down();
}

bool Cancellation::cancelled() const {
  const std::lock_guard lock(mutex_);
  return cancelled_;
}

CancellationScope::CancellationScope(Cancellation* cancellation, PipeConnection& connection)
    : cancellation_(cancellation), connection_(connection) {
  if (cancellation_ == nullptr) return;
  const std::lock_guard lock(cancellation_->mutex_);
  cancellation_->attached_.push_back(&connection_);
  if (cancellation_->cancelled_) connection_.shut_down();
}

CancellationScope::~CancellationScope() {
  if (cancellation_ == nullptr) return;
  const std::lock_guard lock(cancellation_->mutex_);
  auto& attached = cancellation_->attached_;
  attached.erase(std::remove(attached.begin(), attached.end(), &connection_), attached.end());
}

}  // namespace sorvane
