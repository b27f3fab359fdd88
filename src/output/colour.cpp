#include "output/colour.h"

#include <string>

#include "platform/env.h"

namespace sorvane {
namespace {

std::optional<std::string> variable(std::string_view name) {
  auto value = environment_variable(utf8_to_native(name));
  if (!value) return std::nullopt;
  return native_to_utf8_lossy(*value);
}

}  // namespace

bool colour_wanted(bool is_terminal, std::optional<std::string_view> no_color,
                   std::optional<std::string_view> term) {
  if (!is_terminal) return false;
  if (no_color && !no_color->empty()) return false;
  return term != "dumb";
}

bool colour_on(const ConsoleSink& sink, StdStream stream) {
  const auto no_color = variable("NO_COLOR");
  const auto term = variable("TERM");
  if (!colour_wanted(sink.is_terminal(), no_color, term)) return false;
  return enable_colour(stream);
}

}  // namespace sorvane
