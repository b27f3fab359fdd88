#include "protocol/error_code.h"

#include <array>

namespace sorvane {
namespace {

// In the order of the enumeration; the position is never sent.
constexpr std::array<std::string_view, 10> CODE_WORDS = {
    "not_running",      "not_enabled",      "version_mismatch",   "host_not_found",
    "host_key_unknown", "host_key_changed", "missing_credential", "connect_failed",
    "transfer_failed",  "bad_request",
};

}  // namespace

std::string_view code_word(ErrorCode code) { return CODE_WORDS[static_cast<std::size_t>(code)]; }

std::optional<ErrorCode> parse_code_word(std::string_view word) {
  for (std::size_t i = 0; i < CODE_WORDS.size(); ++i) {
    if (CODE_WORDS[i] == word) return static_cast<ErrorCode>(i);
  }
  return std::nullopt;
}

std::string format_error_line(const ToolError& error) {
  std::string line = "sorvane: [";
  line += code_word(error.code);
  line += "] ";
  line += error.message;
  line += '\n';
  return line;
}

ToolError connection_broken(std::string_view description) {
  std::string message(messages::CONNECTION_BROKEN);
  message += description;
  return ToolError{ErrorCode::ConnectFailed, std::move(message)};
}

}  // namespace sorvane
