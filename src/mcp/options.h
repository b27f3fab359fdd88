// The command line of sorvane-mcp: which tools and hosts an agent may use,
// how much remote output one call keeps, and how many calls run at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>

#include "base/result.h"
#include "output/parse_outcome.h"
#include "text/native_string.h"

namespace sorvane::mcp {

inline constexpr std::uint64_t DEFAULT_MAX_OUTPUT = std::uint64_t{64} * 1024;
inline constexpr std::size_t DEFAULT_MAX_CALLS = 16;

struct Options {
  std::set<std::string> tools;                 // empty: every tool
  std::optional<std::set<std::string>> hosts;  // nothing: every host
  std::uint64_t max_output = DEFAULT_MAX_OUTPUT;
  std::size_t max_calls = DEFAULT_MAX_CALLS;  // tool calls running at once; the rest wait
};

// `arguments` is the process's argument vector, program path first. Help and
// version come back as a ParseOutcome with status 0, errors with status 2.
Result<Options, ParseOutcome> parse_options(std::span<const NativeString> arguments);

}  // namespace sorvane::mcp
