#include "ipc/cancellation.h"

namespace sorvane {

void Cancellation::cancel() {
  const std::lock_guard lock(mutex_);
  cancelled_ = true;
  if (attached_ != nullptr) attached_->shut_down();
}

bool Cancellation::cancelled() const {
  const std::lock_guard lock(mutex_);
  return cancelled_;
}

CancellationScope::CancellationScope(Cancellation* cancellation, PipeConnection& connection)
    : cancellation_(cancellation) {
  if (cancellation_ == nullptr) return;
  const std::lock_guard lock(cancellation_->mutex_);
  cancellation_->attached_ = &connection;
  if (cancellation_->cancelled_) connection.shut_down();
}

CancellationScope::~CancellationScope() {
  if (cancellation_ == nullptr) return;
  const std::lock_guard lock(cancellation_->mutex_);
  cancellation_->attached_ = nullptr;
}

}  // namespace sorvane
