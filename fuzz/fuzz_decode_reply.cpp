// Arbitrary payloads into the reply decoder. Whatever it accepts must be
// well-formed JSON by the library's own judgement, and whatever it refuses
// must come with a printable one-line description.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string_view>

#include "protocol/reply.h"
#include "text/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view payload(reinterpret_cast<const char*>(data), size);
  auto reply = sorvane::decode_reply(payload);
  if (reply) {
    if (!nlohmann::json::accept(payload)) __builtin_trap();
  } else {
    const std::string& description = reply.error();
    if (description.empty() || description.find('\n') != std::string::npos ||
        !sorvane::text::is_valid_utf8(description)) {
      __builtin_trap();
    }
  }
  return 0;
}
