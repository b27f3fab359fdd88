#include "cli/run.h"

#include "cli/complete.h"
#include "cli/fan_out.h"
#include "ipc/endpoint.h"
#include "output/console_conversation.h"
#include "output/console_sink.h"
#include "output/inert_text.h"
#include "platform/std_streams.h"
#include "session/conversation.h"
#include "session/operation.h"

namespace sorvane {
namespace {

constexpr std::uint32_t LOCAL_FAILURE_STATUS = 255;

std::uint32_t prepare_and_run_conversation(Cli cli, OutputStreams& streams) {
  if (const auto* exec = std::get_if<Cli::Exec>(&cli.command); exec && runs_on_several_hosts(*exec))
    return run_on_several_hosts(*exec, read_stdin_to_end, streams);
  if (transfers_on_several_hosts(cli))
    return transfer_on_several_hosts(cli, read_stdin_to_end, streams);
  auto request = build_request(operation_of(std::move(cli)), read_stdin_to_end);
  if (!request) {
    (void)streams.err.write_all(inert_error_line(request.error()));
    return LOCAL_FAILURE_STATUS;
  }
  const NativePath directory = data_dir();
  const std::string endpoint = pipe_name(directory);
  // session/ connects and converses; output/ renders what it is handed.
  return run_conversation(
      [&](ConversationEvents& events) { return converse(endpoint, *request, events); }, streams);
}

}  // namespace

Operation operation_of(Cli cli) {
  // Each record is its operation and the --json flag; exec's record also
  // holds the options of several hosts, which take another way (fan_out).
  return std::visit([](auto&& record) { return Operation{std::forward<decltype(record)>(record)}; },
                    std::move(cli.command));
}

bool wants_json(const Cli& cli, bool stdout_is_terminal) {
  // exec on one host has no --json: the parser refuses it there.
  const bool asked = std::visit([](const auto& command) { return command.json; }, cli.command);
  return asked || !stdout_is_terminal;
}

std::uint32_t run(std::span<const NativeString> arguments) {
  // The shell scripts' hidden entry, before the parser can see it.
  if (arguments.size() >= 2 && native_to_argument(arguments[1]) == COMPLETION_ENTRY)
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

  const std::uint32_t status = prepare_and_run_conversation(std::move(*cli), streams);
  out.finish();
  err.finish();
  return status;
}

}  // namespace sorvane
