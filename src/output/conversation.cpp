// Placeholder until the conversation driver lands: an honest failure.
#include "output/conversation.h"

#include "protocol/error_code.h"

namespace sorvane {

std::uint32_t run_conversation(std::string_view, Request, OutputStreams& streams) {
  (void)streams.err.write_all(std::string_view("sorvane: [connect_failed] not implemented yet\n"));
  return 255;
}

}  // namespace sorvane
