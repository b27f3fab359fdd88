#include "mcp/run.h"

#include <string>

#include "ipc/endpoint.h"
#include "ipc/shared_endpoint.h"
#include "mcp/audit_log.h"
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

// A log that cannot be written is found now, not after the first call.
bool audit_log_writable(const Options& options, OutputStream& err) {
  if (!options.audit_log) return true;
  auto opened = AuditLog(*options.audit_log).create();
  if (opened) return true;
  const std::string line = "sorvane-mcp: cannot open the audit log " +
                           native_to_utf8_lossy(*options.audit_log) + ": " + opened.error().text +
                           "\n";
  (void)err.write_all(as_bytes(line));
  return false;
}

}  // namespace

std::uint32_t run(std::span<const NativeString> arguments) {
  auto options = parse_options(arguments);
  if (!options) return print_parse_outcome(options.error());
  if (options->verify_audit) {
    StdOutputStream out(StdStream::Output);
    return static_cast<std::uint32_t>(verify_audit_file(*options->verify_audit, out));
  }

  const std::string endpoint = pipe_name(data_dir());
  StdOutputStream out(StdStream::Output);
  StdOutputStream err(StdStream::Error);
  if (!audit_log_writable(*options, err)) return 2;
  MessageWriter writer(out, err);
  Server server(
      std::move(*options), writer,
      [endpoint](const Request& request, ConversationEvents& events, Cancellation& cancellation) {
        return converse(endpoint, request, events, &cancellation);
      },
      [endpoint](const FleetPlan& plan, const std::string& command, FleetObserver& observer,
                 FleetStop& stop) {
        SharedEndpoint shared(endpoint);
        return run_fleet(plan, shared, ExecOnHosts(command), observer, &stop);
      });
  StdInputStream in;
  LineReader lines(in);
  serve(lines, server, writer);
  // The client has gone: stop the open calls, wait (a few seconds at most)
  // for their audit lines, and end the process without waiting for their
  // threads.
  server.cancel_all();
  end_process_now(0);
}

}  // namespace sorvane::mcp
