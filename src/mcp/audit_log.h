// The audit log: for each tool call a `started` line before anything is sent
// to the desktop application, and a line with its outcome when it ends (a
// call refused before that has the outcome line alone); both name the call.
// Each line holds the SHA-256 of the line before it, so that a changed,
// removed or inserted line breaks the chain. It records what was asked and
// how it ended, never remote output or file contents.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/io.h"
#include "text/native_string.h"

namespace sorvane::mcp {

using Json = nlohmann::ordered_json;

enum class CallOutcome { Ok, Error, TimedOut, Cancelled, Declined, Refused };

struct AuditEntry {
  std::chrono::system_clock::time_point time;  // when the call started or ended
  std::string call;                            // the same on both lines of a call
  Json client;                                 // {"name", "version"} from initialize
  std::string tool;
  Json host;       // the host ID, or null
  Json arguments;  // the command, or the two paths
  // Nothing: the call's `started` line, which has none of the members below.
  std::optional<CallOutcome> outcome;
  std::optional<Json> exit_code;     // exec: the remote code, or null without one
  std::optional<std::string> error;  // the error line of an error result
  std::uint64_t bytes = 0;
  std::uint64_t duration_ms = 0;
};

// "2025-01-02T03:04:05.678Z"
std::string utc_timestamp(std::chrono::system_clock::time_point time);

// The entry's line (no line feed) after a file whose last line is
// `last_line` (as read: with its line feed; empty for an empty file). A last
// line without its line feed was cut short: the new line starts on a line of
// its own, and the cut line keeps its place in the chain.
std::string chained_line(const AuditEntry& entry, std::string_view last_line);

// The first line (counted from 1) that breaks the chain, and why.
struct ChainBreak {
  std::size_t line;
  std::string why;
};
std::optional<ChainBreak> find_chain_break(std::string_view log);

// The lines (counted from 1) of calls that started and have no outcome line:
// a server stopped mid-call leaves one, as does a call still running.
std::vector<std::size_t> unfinished_calls(std::string_view log);

// Appends entries to one file; calls of this process one at a time.
class AuditLog {
 public:
  explicit AuditLog(NativePath path) : path_(std::move(path)) {}
  // Opens the file as an append does, creating it if need be, and writes nothing.
  IoResult<void> create();
  IoResult<void> append(const AuditEntry& entry);

 private:
  std::mutex mutex_;
  NativePath path_;
};

// `sorvane-mcp --verify-audit FILE`: prints what it found on `out`; 0 for
// an intact chain, else 1. Unfinished calls are warnings, not breaks.
int verify_audit_file(const NativePath& path, OutputStream& out);

}  // namespace sorvane::mcp
