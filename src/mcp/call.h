// One tool call in flight: what stops it (the client's cancellation, its
// time limit, the end of input), the clock its time limit and heartbeat are
// measured on, and its record for the audit log.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "ipc/cancellation.h"
#include "mcp/call_timer.h"
#include "session/fleet.h"

namespace sorvane::mcp {

class CallRecord;

// How often a running exec tells the client it is alive.
inline constexpr std::chrono::seconds HEARTBEAT_INTERVAL{10};

class Call {
 public:
  enum class Stop {
    Cancelled,  // by the client or the end of input: no answer, audited `cancelled`
    TimedOut,   // by the time limit: answered, audited from the result
  };
  // Gets the heartbeat: progress (larger at every beat) and the output bytes
  // received so far.
  using Beat = std::function<void(std::uint64_t progress, std::uint64_t received)>;

  struct Settings {
    std::shared_ptr<CallRecord> record;  // null: not audited
    TimerClock* clock = nullptr;         // null: the steady clock
    Beat beat;                           // empty: no heartbeat
    // Told once the call stops, after its connections are shut down: for a
    // stand-in conversation that has no connection to shut.
    std::function<void()> stopped;
  };

  // Neither copied nor moved: its mutex and cancellation pin it in place.
  explicit Call(Settings settings);

  // Stops the call from any thread: its conversation and every host it runs
  // end at once. The first reason is the one kept, and it is set before
  // anything is shut down, so that the call sees why as soon as it ends.
  void stop(Stop why);
  bool stopped() const;
  bool cancelled() const;
  bool timed_out() const;

  Cancellation& cancellation() { return cancellation_; }
  FleetStop& fleet_stop() { return fleet_stop_; }
  CallRecord* record() const { return settings_.record.get(); }

  // How one of the call's waits is timed.
  struct Timing {
    std::chrono::seconds limit{0};  // zero: none
    bool idle = false;              // the limit counts from the last byte, not the start
    bool beating = false;           // the heartbeat runs
  };
  // The timer for one wait: at the limit it stops the call as timed out; the
  // heartbeat reports what `received` counts.
  CallTimer::Settings timer(Timing timing, std::function<std::uint64_t()> received);

 private:
  void beat(std::uint64_t received);

  Settings settings_;
  mutable std::mutex mutex_;
  std::optional<Stop> stopped_;
  std::uint64_t beaten_ = 0;  // the last progress sent: each must be larger
  Cancellation cancellation_;
  FleetStop fleet_stop_;
};

}  // namespace sorvane::mcp
