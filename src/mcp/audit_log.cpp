#include "mcp/audit_log.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <map>

#include "output/inert_text.h"
#include "platform/file_input.h"
#include "platform/private_log.h"
#include "platform/sha256.h"

namespace sorvane::mcp {
namespace {

constexpr std::string_view FIRST_PREV =
    "0000000000000000000000000000000000000000000000000000000000000000";

// Deeper than any line this server writes; a tampered file may nest deeper.
constexpr int MAX_LINE_DEPTH = 8;

std::string hex_sha256(std::string_view bytes) {
  constexpr std::string_view HEX_DIGITS = "0123456789abcdef";
  std::string hex;
  for (const std::uint8_t byte : sha256(as_bytes(bytes))) {
    hex += HEX_DIGITS[byte >> 4];
    hex += HEX_DIGITS[byte & 0xF];
  }
  return hex;
}

std::string_view outcome_word(CallOutcome outcome) {
  switch (outcome) {
    case CallOutcome::Ok:
      return "ok";
    case CallOutcome::Error:
      return "error";
    case CallOutcome::TimedOut:
      return "timed_out";
    case CallOutcome::Cancelled:
      return "cancelled";
    case CallOutcome::Declined:
      return "declined";
    case CallOutcome::Refused:
      return "refused";
  }
  return "error";
}

Json parse_shallow(std::string_view line) {
  return Json::parse(
      line.begin(), line.end(),
      [](int depth, Json::parse_event_t, Json&) { return depth <= MAX_LINE_DEPTH; }, false);
}

// Line `number` (from 1), without its line feed.
std::string_view line_at(std::string_view log, std::size_t number) {
  for (std::size_t i = 1; i < number; ++i) log.remove_prefix(log.find('\n') + 1);
  return log.substr(0, log.find('\n'));
}

// Numbers only: the lines themselves come from the file.
std::string unfinished_warnings(const std::string& name, const std::vector<std::size_t>& lines) {
  std::string warnings;
  for (const std::size_t line : lines) {
    warnings += name + ": warning: line " + std::to_string(line) +
                ": a call started and no line gives its outcome (a server that was stopped "
                "mid-call leaves one, as does a call still running)\n";
  }
  return warnings;
}

}  // namespace

std::string utc_timestamp(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto milliseconds_since = floor<milliseconds>(time);
  const auto day = floor<days>(milliseconds_since);
  const year_month_day date{day};
  const hh_mm_ss clock{milliseconds_since - day};
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()),
                static_cast<int>(clock.subseconds().count()));
  return text.data();
}

std::string chained_line(const AuditEntry& entry, std::string_view last_line) {
  const bool cut = !last_line.empty() && last_line.back() != '\n';
  std::string_view previous = last_line;
  if (!cut && !previous.empty()) previous.remove_suffix(1);

  Json line = {{"time", utc_timestamp(entry.time)},
               {"call", entry.call},
               {"event", entry.outcome ? "ended" : "started"},
               {"client", entry.client},
               {"tool", entry.tool},
               {"host", entry.host},
               {"arguments", entry.arguments}};
  if (entry.outcome) {
    line["outcome"] = outcome_word(*entry.outcome);
    if (entry.error) {
      line["error"] = *entry.error;
    } else if (entry.exit_code) {
      line["exit_code"] = *entry.exit_code;
    }
    line["bytes"] = entry.bytes;
    line["duration_ms"] = entry.duration_ms;
  }
  line["prev"] = last_line.empty() ? std::string(FIRST_PREV) : hex_sha256(previous);
  std::string text(cut ? "\n" : "");
  text += line.dump(-1, ' ', false, Json::error_handler_t::replace);
  return text;
}

std::optional<ChainBreak> find_chain_break(std::string_view log) {
  std::string expected(FIRST_PREV);
  for (std::size_t number = 1; !log.empty(); ++number) {
    const std::size_t feed = log.find('\n');
    if (feed == std::string_view::npos) return ChainBreak{number, "the line has no line feed"};
    const std::string_view line = log.substr(0, feed);
    log.remove_prefix(feed + 1);
    const Json parsed = parse_shallow(line);
    if (!parsed.is_object()) return ChainBreak{number, "not a JSON object"};
    const auto prev = parsed.find("prev");
    if (prev == parsed.end() || !prev->is_string() ||
        prev->get_ref<const std::string&>() != expected) {
      return ChainBreak{number, number == 1 ? "its prev is not 64 zeros, as a first line's is"
                                            : "its prev is not the SHA-256 of the line before"};
    }
    expected = hex_sha256(line);
  }
  return std::nullopt;
}

std::vector<std::size_t> unfinished_calls(std::string_view log) {
  // (call, host) -> its line: a call on several hosts has a pair of lines per host.
  std::map<std::pair<std::string, std::string>, std::size_t> started;
  for (std::size_t number = 1; !log.empty(); ++number) {
    const std::string_view line = log.substr(0, log.find('\n'));
    log.remove_prefix(std::min(log.size(), line.size() + 1));
    const Json parsed = parse_shallow(line);
    const auto call = parsed.is_object() ? parsed.find("call") : parsed.end();
    if (call == parsed.end() || !call->is_string()) continue;  // a line of an older server
    auto key = std::pair(call->get<std::string>(), parsed.value("host", Json()).dump());
    if (parsed.value("event", Json()) == "started") {
      started[std::move(key)] = number;
    } else {
      started.erase(key);
    }
  }
  std::vector<std::size_t> lines;
  lines.reserve(started.size());
  for (const auto& [call, line] : started) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

IoResult<void> AuditLog::create() {
  const std::lock_guard lock(mutex_);
  return append_to_private_log(path_, [](std::string_view) { return std::string(); });
}

IoResult<void> AuditLog::append(const AuditEntry& entry) {
  const std::lock_guard lock(mutex_);
  return append_to_private_log(
      path_, [&](std::string_view last_line) { return chained_line(entry, last_line) + "\n"; });
}

int verify_audit_file(const NativePath& path, OutputStream& out) {
  const std::string name = native_to_utf8_lossy(path);
  std::string report;
  int status = 1;
  // The whole file, however long: checking it needs every line.
  if (auto log = read_file(path, std::numeric_limits<std::size_t>::max()); !log) {
    report = name + ": cannot read: " + log.error().text + "\n";
  } else if (auto broken = find_chain_break(*log)) {
    report = name + ": line " + std::to_string(broken->line) + " breaks the chain: " + broken->why +
             "\n" + inert(line_at(*log, broken->line)) + "\n";
  } else {
    const auto lines = std::count(log->begin(), log->end(), '\n');
    report = name + ": " + std::to_string(lines) + " lines, the chain is intact";
    // Kept elsewhere, it shows later whether the end of the file was changed.
    if (lines > 0) {
      report += "; SHA-256 of the last line: " + hex_sha256(line_at(*log, lines));
    }
    report += '\n';
    report += unfinished_warnings(name, unfinished_calls(*log));
    status = 0;
  }
  (void)out.write_all(as_bytes(report));
  (void)out.flush();
  return status;
}

}  // namespace sorvane::mcp
