// The MCP server: JSON-RPC 2.0 over lines, the lifecycle, and the tool calls,
// each with a connection of its own, on the threads of a bounded pool.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/io.h"
#include "base/thread_pool.h"
#include "ipc/cancellation.h"
#include "mcp/call.h"
#include "mcp/options.h"
#include "mcp/safeguards.h"
#include "mcp/tools.h"
#include "session/fleet.h"

namespace sorvane::mcp {

// The protocol versions answered as asked in `initialize`; any other gets the
// first. 2025-03-26 is not among them: it allows JSON-RPC batches, which this
// server does not serve, so a client asking for it is offered the newest
// instead.
inline constexpr std::array<std::string_view, 2> PROTOCOL_VERSIONS = {"2025-11-25", "2025-06-18"};

// The revision without a handshake: each request names it in its `_meta`.
inline constexpr std::string_view STATELESS_PROTOCOL_VERSION = "2026-07-28";

// Which protocol a process speaks, fixed by the first request it serves:
// `initialize` for the handshake of PROTOCOL_VERSIONS, any other request
// naming STATELESS_PROTOCOL_VERSION in its `_meta` for that one.
enum class Era { Undecided, Handshake, Stateless };

// Arrays and objects nested deeper than this make a message refused: a value
// that deep would be copied and printed by recursion, and no message of this
// protocol needs it.
inline constexpr int MAX_MESSAGE_DEPTH = 128;

// Calls not yet ended, those waiting for their turn and those running, are
// bounded in number past --max-calls and in the size of their messages: a
// call past either bound is refused at once, so that calls and the arguments
// they hold cannot pile up without end. Far more than a client sends at once.
inline constexpr std::size_t MAX_WAITING_CALLS = 1024;
inline constexpr std::size_t MAX_OPEN_CALL_BYTES = std::size_t{64} * 1024 * 1024;

// Standard output: one whole message per write, under one lock, so messages
// of concurrent calls never interleave.
class MessageWriter {
 public:
  MessageWriter(OutputStream& out, OutputStream& diagnostics)
      : out_(out), diagnostics_(diagnostics) {}

  void send(const Json& message);
  // One line on standard error.
  void diagnose(std::string_view text);

 private:
  std::mutex mutex_;
  OutputStream& out_;
  OutputStream& diagnostics_;
};

// Holds a tool call's conversation, which `cancellation` can end at once.
using CallConverse = std::function<FinalReply(const Request&, ConversationEvents&, Cancellation&)>;

// Runs `command` on the plan's hosts, which `stop` can end at once.
using CallRunFleet = std::function<std::vector<HostOutcome>(
    const FleetPlan&, const std::string& command, FleetObserver&, FleetStop&)>;

class Server {
 public:
  // Without `run_fleet`, exec runs on one host only. `clock`: what the
  // calls' time limits and heartbeats are measured on (null: the steady clock).
  Server(Options options, MessageWriter& writer, CallConverse converse, CallRunFleet run_fleet = {},
         TimerClock* clock = nullptr);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  // Cancels the calls still open and waits for their threads.
  ~Server();

  // One line of standard input. Tool calls are queued and return at once.
  void handle_line(std::string_view line);
  // A line over the size limit, skipped whole.
  void handle_oversized_line();
  // End of input: every open call is stopped, and its result never sent;
  // returns once each has its audit line, or after a few seconds at most.
  void cancel_all();

 private:
  struct Calls;

  void handle_request(const Json& id, const std::string& method, const Json& params);
  void handle_handshake_request(const Json& id, const std::string& method, const Json& params);
  void handle_stateless_request(const Json& id, const std::string& method, const Json& params);
  // A message that parsed only with the text at `pointer` replaced.
  void refuse_undecodable(const Json& message, const std::string& pointer);
  void handle_notification(const std::string& method, const Json& params);
  // `round`: a call of the stateless revision.
  void start_call(const Json& id, const Json& params, std::optional<RoundTrip> round);
  // On a thread of the pool. `bytes`: of its message, its place freed as it ends.
  void run_call(ToolId tool, const Json& id, const std::string& key, Call& call,
                const Json& arguments, const Json& token, std::size_t bytes);
  Json list_tools() const;
  bool offered(ToolId tool) const;

  void reply(const Json& id, Json result);
  void reply_error(const Json& id, int code, std::string_view message, Json data = nullptr);

  Options options_;
  // The length of the line being handled, on the reading thread: what a
  // call started from it holds until it ends.
  std::size_t line_bytes_ = 0;
  MessageWriter& writer_;
  CallConverse converse_;
  CallRunFleet run_fleet_;
  TimerClock* clock_;
  std::unique_ptr<Calls> calls_;
  Safeguards safeguards_;
  // Changed on the reading thread only; read by calls when they answer.
  std::atomic<Era> era_ = Era::Undecided;
  // Last: destroyed first, so its threads are joined while what they use lives.
  ThreadPool pool_;
};

}  // namespace sorvane::mcp
