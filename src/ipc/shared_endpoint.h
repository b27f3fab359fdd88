// Many conversations of one process with the desktop application at once.
// A desktop application may serve fewer at a time than are asked for; a busy
// endpoint while some of this process's own conversations are open is then
// no failure: the connect waits for one of them to end and tries again. A
// busy endpoint with none of ours open gets the usual waits of connect().
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "ipc/connection.h"

namespace sorvane {

class SharedEndpoint {
 public:
  explicit SharedEndpoint(std::string pipe_name, PipeSystem& system = system_pipes());
  SharedEndpoint(const SharedEndpoint&) = delete;
  SharedEndpoint& operator=(const SharedEndpoint&) = delete;
  ~SharedEndpoint() = default;  // every Conversation has ended before

  // One open conversation; when it goes, its connection is closed first and
  // then the connects waiting for a turn try again.
  class Conversation {
   public:
    // `connection` was opened by `endpoint`, and counted there.
    Conversation(SharedEndpoint& endpoint, PipeConnection connection);
    Conversation(Conversation&& other) noexcept;
    Conversation& operator=(Conversation&&) = delete;
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;
    ~Conversation();

    PipeConnection& connection() { return *connection_; }

   private:
    SharedEndpoint* endpoint_;
    std::optional<PipeConnection> connection_;
  };

  // Opens the endpoint and checks its owner, as connect() does.
  Result<Conversation, ConnectError> open();

 private:
  class Turns;

  std::uint64_t ended_so_far();
  void opened();
  bool any_open();
  // Waits until one of ours ends, if one has not ended since `seen` already;
  // false at once when none of ours is open, so there is nothing to wait for.
  bool wait_for_an_end(std::uint64_t seen);
  void ended();

  std::string pipe_name_;
  PipeSystem& system_;
  std::mutex mutex_;
  std::condition_variable an_end_;
  int open_ = 0;
  std::uint64_t ended_ = 0;
};

}  // namespace sorvane
