#include "output/parse_outcome.h"

#include "platform/std_streams.h"

namespace sorvane {

// On a Windows console through the same Unicode-safe writer as everything else.
std::uint32_t print_parse_outcome(const ParseOutcome& outcome) {
  StdOutputStream stream(outcome.to_stdout ? StdStream::Output : StdStream::Error);
  (void)stream.write_all(as_bytes(outcome.text));
  return static_cast<std::uint32_t>(outcome.status);
}

}  // namespace sorvane
