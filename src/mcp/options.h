// The command line of sorvane-mcp: which tools and hosts an agent may use,
// how much remote output one call keeps, how many calls run at once, which
// local folders transfers may touch, what the user confirms, and the audit log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "output/parse_outcome.h"
#include "text/native_string.h"

namespace sorvane::mcp {

inline constexpr std::uint64_t DEFAULT_MAX_OUTPUT = std::uint64_t{64} * 1024;
inline constexpr std::size_t DEFAULT_MAX_CALLS = 16;
inline constexpr std::uint64_t DEFAULT_TIMEOUT_SECONDS = 600;
inline constexpr unsigned DEFAULT_PARALLEL = 8;

struct Options {
  std::set<std::string> tools;                 // empty: every tool
  std::optional<std::set<std::string>> hosts;  // nothing: every host
  std::uint64_t max_output = DEFAULT_MAX_OUTPUT;
  std::size_t max_calls = DEFAULT_MAX_CALLS;  // tool calls running at once; the rest wait
  unsigned parallel = DEFAULT_PARALLEL;       // hosts of one exec running at once
  std::uint64_t timeout_seconds = DEFAULT_TIMEOUT_SECONDS;  // 0: no limit
  std::vector<NativePath> local_roots;                      // absolute
  std::set<std::string> confirm;                            // tools the user confirms call by call
  std::optional<NativePath> audit_log;                      // absolute
  std::optional<NativePath> verify_audit;  // check this log's chain instead of serving
};

// `arguments` is the process's argument vector, program path first. Help and
// version come back as a ParseOutcome with status 0, errors with status 2.
Result<Options, ParseOutcome> parse_options(std::span<const NativeString> arguments);

}  // namespace sorvane::mcp
