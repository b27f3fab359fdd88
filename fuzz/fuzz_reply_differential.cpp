// The tool's own reply decoder against a plain one on nlohmann/json: both
// must accept or refuse every payload alike and decode the same values, and
// a refusal must come with a printable one-line description.
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "protocol/reply.h"
#include "support/reference_reply.h"
#include "text/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view payload(reinterpret_cast<const char*>(data), size);
  auto reply = sorvane::decode_reply(payload);
  auto expected = sorvane::reference::decode_reply(payload);
  if (reply.has_value() != expected.has_value()) {
    std::fprintf(stderr, "decoders disagree: tool %s, reference %s (%s)\n",
                 reply ? "accepts" : "refuses", expected ? "accepts" : "refuses",
                 reply ? "" : reply.error().c_str());
    __builtin_trap();
  }
  if (reply && !(*reply == *expected)) {
    std::fprintf(stderr, "decoders accept with different values\n");
    __builtin_trap();
  }
  if (!reply) {
    const std::string& description = reply.error();
    if (description.empty() || description.size() > 1024 ||
        description.find('\n') != std::string::npos || !sorvane::text::is_valid_utf8(description)) {
      __builtin_trap();
    }
  }
  return 0;
}
