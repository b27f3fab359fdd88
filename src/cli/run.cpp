#include "cli/run.h"

#include "cli/command_line.h"
#include "cli/complete.h"
#include "cli/fan_out.h"
#include "cli/prepare.h"
#include "ipc/endpoint.h"
#include "output/console_sink.h"
#include "output/conversation.h"
#include "platform/std_streams.h"

namespace sorvane {
namespace {

constexpr std::uint32_t kLocalFailureStatus = 255;

std::uint32_t prepare_and_converse(Cli cli, OutputStreams& streams) {
  if (const auto* exec = std::get_if<Cli::Exec>(&cli.command); exec && runs_on_several_hosts(*exec))
    return run_on_several_hosts(*exec, read_stdin_to_end, streams);
  auto request = build_request(std::move(cli), read_stdin_to_end);
  if (!request) {
    (void)streams.err.write_all(format_error_line(request.error()));
    return kLocalFailureStatus;
  }
  const NativePath directory = data_dir();
  const std::string endpoint = pipe_name(directory);
  return run_conversation(endpoint, *request, streams);
}

}  // namespace

// On a Windows console through the same Unicode-safe writer as everything else.
std::uint32_t print_parse_outcome(const ParseOutcome& outcome) {
  StdOutputStream stream(outcome.to_stdout ? StdStream::Output : StdStream::Error);
  (void)stream.write_all(as_bytes(outcome.text));
  return static_cast<std::uint32_t>(outcome.status);
}

std::uint32_t run(std::span<const NativeString> arguments) {
  // The shell scripts' hidden entry, before the parser can see it.
  if (arguments.size() >= 2 && native_to_argument(arguments[1]) == kCompletionEntry)
    return run_completion(arguments.subspan(2));
  auto cli = parse(arguments);
  if (!cli) return print_parse_outcome(cli.error());

  const bool stdout_is_terminal = is_terminal(StdStream::Output);
  const bool stderr_is_terminal = is_terminal(StdStream::Error);
  StdOutputStream stdout_stream(StdStream::Output);
  StdOutputStream stderr_stream(StdStream::Error);
  ConsoleSink out(stdout_stream, stdout_is_terminal);
  ConsoleSink err(stderr_stream, stderr_is_terminal);
  OutputStreams streams{out, err, wants_json(*cli, stdout_is_terminal), stderr_is_terminal};

  const std::uint32_t status = prepare_and_converse(std::move(*cli), streams);
  out.finish();
  err.finish();
  return status;
}

}  // namespace sorvane
