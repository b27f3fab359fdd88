#include "base/thread_pool.h"

#include <exception>
#include <utility>

namespace sorvane {

ThreadPool::ThreadPool(std::size_t max_threads) : max_threads_(max_threads < 1 ? 1 : max_threads) {}

ThreadPool::~ThreadPool() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_arrived_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

Result<void, std::string> ThreadPool::submit(std::function<void()> work) {
  {
    const std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
  }
  work_arrived_.notify_one();
  try {
    start_thread_if_needed();
  } catch (const std::exception& error) {  // std::system_error, or no memory
    // The threads already running take it in turn; with none, nobody would.
    if (!threads_.empty()) return {};
    const std::lock_guard lock(mutex_);
    queue_.pop_back();
    return fail(std::string(error.what()));
  }
  return {};
}

void ThreadPool::start_thread_if_needed() {
  {
    const std::lock_guard lock(mutex_);
    // Idle threads take one queued item each; only what is left needs a thread.
    if (queue_.size() <= idle_ || threads_.size() >= max_threads_) return;
  }
  threads_.emplace_back([this] { serve(); });
}

void ThreadPool::serve() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_;
    work_arrived_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    --idle_;
    if (queue_.empty()) return;  // stopping, and nothing left to run
    std::function<void()> next = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    next();
    lock.lock();
  }
}

}  // namespace sorvane
