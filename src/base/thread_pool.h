// Threads for work that blocks (one conversation each): at most a fixed
// number, all owned here and joined when the pool goes. Work past the limit
// waits its turn, in order.
//
// No thread is ever detached: with the static winpthreads of the Windows
// build, detaching a thread whose function has already returned corrupts the
// library's thread records, and a later thread start is silently lost.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/result.h"

namespace sorvane {

class ThreadPool {
 public:
  explicit ThreadPool(std::size_t max_threads);
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;
  // Runs what is still queued, then joins every thread. Callers cancel their
  // work first, so that queued work ends at once.
  ~ThreadPool();

  // Queues `work`, starting a thread for it while under the limit. Fails,
  // with the system's reason, only when no thread runs and none can start.
  Result<void, std::string> submit(std::function<void()> work);

 private:
  void serve();
  void start_thread_if_needed();

  std::mutex mutex_;
  std::condition_variable work_arrived_;
  std::deque<std::function<void()>> queue_;
  std::size_t idle_ = 0;
  bool stopping_ = false;
  const std::size_t max_threads_;
  std::vector<std::thread> threads_;  // touched by the submitting thread only
};

}  // namespace sorvane
