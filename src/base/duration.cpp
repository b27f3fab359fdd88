#include "base/duration.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>

namespace sorvane {
namespace {

struct DurationUnit {
  std::string_view suffix;
  std::uint64_t milliseconds;
};

// Largest first, which format_duration relies on.
constexpr std::array<DurationUnit, 4> DURATION_UNITS = {{
    {"h", std::uint64_t{60} * 60 * 1000},
    {"m", std::uint64_t{60} * 1000},
    {"s", 1000},
    {"ms", 1},
}};

}  // namespace

std::optional<std::chrono::milliseconds> parse_duration(std::string_view text) {
  std::uint64_t count = 0;
  const char* end = text.data() + text.size();
  const auto [unit, error] = std::from_chars(text.data(), end, count);
  if (error != std::errc() || count == 0) return std::nullopt;
  const std::string_view suffix(unit, static_cast<std::size_t>(end - unit));
  const auto* const named = std::find_if(
      DURATION_UNITS.begin(), DURATION_UNITS.end(),
      [&](const DurationUnit& known) { return known.suffix == (suffix.empty() ? "s" : suffix); });
  if (named == DURATION_UNITS.end()) return std::nullopt;
  // Past a year is a typo, and far from where the count could overflow.
  constexpr std::uint64_t LONGEST = std::uint64_t{366} * 24 * 60 * 60 * 1000;
  if (count > LONGEST / named->milliseconds) return std::nullopt;
  return std::chrono::milliseconds(count * named->milliseconds);
}

std::string format_duration(std::chrono::milliseconds duration) {
  const auto milliseconds = static_cast<std::uint64_t>(std::max<std::int64_t>(duration.count(), 0));
  for (const DurationUnit& unit : DURATION_UNITS) {
    if (milliseconds % unit.milliseconds == 0 && milliseconds >= unit.milliseconds) {
      return std::to_string(milliseconds / unit.milliseconds) + std::string(unit.suffix);
    }
  }
  return std::to_string(milliseconds) + "ms";
}

}  // namespace sorvane
