#include "ipc/shared_endpoint.h"

#include <limits>
#include <utility>

namespace sorvane {

// connect()'s view of the system for one open(): a busy endpoint waits for
// one of our conversations to end where one is open, and the usual waits
// (at most BUSY_WAITS in a row with no end of ours between them) elsewhere.
class SharedEndpoint::Turns final : public PipeSystem {
 public:
  explicit Turns(SharedEndpoint& shared)
      : shared_(shared), ended_at_last_wait_(shared.ended_so_far()) {}

  Result<std::unique_ptr<PipeConnection::Handle>, int> open(std::string_view pipe_name,
                                                            const Deadline& deadline) override {
    seen_ = shared_.ended_so_far();
    auto opened = shared_.system_.open(pipe_name, deadline);
    // Counted at once: whoever finds the endpoint busy now must see why.
    if (opened) shared_.opened();
    counted_ = opened.has_value();
    return opened;
  }

  // Whether the last attempt opened the endpoint, and so counts as ours.
  bool counted() const { return counted_; }

  OpenFailure classify(int error_code) const override {
    const OpenFailure failure = shared_.system_.classify(error_code);
    // Ours are in the way if one is open, or one ended since the attempt.
    const bool ours_in_the_way = shared_.any_open() || shared_.ended_so_far() != seen_;
    // A desktop application that serves one conversation at a time may have
    // no instance listening while it serves ours.
    if (failure == OpenFailure::NotRunning && ours_in_the_way) return OpenFailure::Busy;
    if (failure == OpenFailure::Busy && !ours_in_the_way && usual_waits_ >= BUSY_WAITS) {
      return OpenFailure::Other;  // given up, as connect() does
    }
    return failure;
  }

  void wait_busy(std::string_view pipe_name, int milliseconds) override {
    if (shared_.wait_for_an_end(seen_)) return;
    const std::uint64_t ended = shared_.ended_so_far();
    if (ended != ended_at_last_wait_) usual_waits_ = 0;  // ours were what kept it busy
    ended_at_last_wait_ = ended;
    shared_.system_.wait_busy(pipe_name, milliseconds);
    ++usual_waits_;
  }

  Result<bool, int> owner_accepted(PipeConnection::Handle& handle) override {
    return shared_.system_.owner_accepted(handle);
  }

  Deadline::Clock::time_point now() const override { return shared_.system_.now(); }

 private:
  SharedEndpoint& shared_;
  std::uint64_t seen_ = 0;  // ends of ours before the last attempt
  bool counted_ = false;
  std::uint64_t ended_at_last_wait_;
  int usual_waits_ = 0;
};

SharedEndpoint::SharedEndpoint(std::string pipe_name, PipeSystem& system)
    : pipe_name_(std::move(pipe_name)), system_(system) {}

Result<SharedEndpoint::Conversation, ConnectError> SharedEndpoint::open() {
  Turns turns(*this);
  // The waits are bounded by Turns: by our own conversations ending, or by
  // BUSY_WAITS waits in a row.
  auto connection = connect_with(turns, pipe_name_, Deadline(), std::numeric_limits<int>::max());
  if (!connection) {
    if (turns.counted()) ended();  // opened, then refused: already closed
    return fail(std::move(connection).error());
  }
  return Conversation(*this, std::move(*connection));
}

std::uint64_t SharedEndpoint::ended_so_far() {
  const std::lock_guard lock(mutex_);
  return ended_;
}

void SharedEndpoint::opened() {
  const std::lock_guard lock(mutex_);
  ++open_;
}

bool SharedEndpoint::any_open() {
  const std::lock_guard lock(mutex_);
  return open_ > 0;
}

bool SharedEndpoint::wait_for_an_end(std::uint64_t seen) {
  std::unique_lock lock(mutex_);
  an_end_.wait(lock, [&] { return ended_ != seen || open_ == 0; });
  return ended_ != seen;
}

void SharedEndpoint::ended() {
  {
    const std::lock_guard lock(mutex_);
    --open_;
    ++ended_;
  }
  an_end_.notify_all();
}

SharedEndpoint::Conversation::Conversation(SharedEndpoint& endpoint, PipeConnection connection)
    : endpoint_(&endpoint), connection_(std::move(connection)) {}

SharedEndpoint::Conversation::Conversation(Conversation&& other) noexcept
    : endpoint_(std::exchange(other.endpoint_, nullptr)),
      connection_(std::move(other.connection_)) {}

SharedEndpoint::Conversation::~Conversation() {
  if (endpoint_ == nullptr) return;
  connection_.reset();  // the instance is free before anyone tries it again
  endpoint_->ended();
}

}  // namespace sorvane
