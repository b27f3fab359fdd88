#include "mcp/run.h"

#include <string>

#include "ipc/endpoint.h"
#include "mcp/line_reader.h"
#include "mcp/server.h"
#include "output/parse_outcome.h"
#include "platform/process.h"
#include "platform/std_streams.h"

namespace sorvane::mcp {
namespace {

void serve(LineReader& lines, Server& server, MessageWriter& writer) {
  for (;;) {
    auto line = lines.next();
    if (!line) {
      writer.diagnose("cannot read standard input: " + line.error().text);
      return;
    }
    if (!line->has_value()) return;
    if ((*line)->too_long) {
      server.handle_oversized_line();
    } else {
      server.handle_line((*line)->text);
    }
  }
}

}  // namespace

std::uint32_t run(std::span<const NativeString> arguments) {
  auto options = parse_options(arguments);
  if (!options) return print_parse_outcome(options.error());

  const std::string endpoint = pipe_name(data_dir());
  StdOutputStream out(StdStream::Output);
  StdOutputStream err(StdStream::Error);
  MessageWriter writer(out, err);
  Server server(
      std::move(*options), writer,
      [endpoint](const Request& request, ConversationEvents& events, Cancellation& cancellation) {
        return converse(endpoint, request, events, &cancellation);
      });
  StdInputStream in;
  LineReader lines(in);
  serve(lines, server, writer);
  // The client has gone: end the open conversations and the process now,
  // without waiting for calls that may still be blocked.
  server.cancel_all();
  end_process_now(0);
}

}  // namespace sorvane::mcp
