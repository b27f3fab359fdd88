#include "cli/fan_out.h"

#include <memory>
#include <tuple>

#include "ipc/endpoint.h"
#include "ipc/shared_endpoint.h"
#include "output/colour.h"
#include "output/fan_out_report.h"
#include "output/fleet_console.h"
#include "output/gathered_output.h"
#include "output/inert_text.h"
#include "output/transfer_fleet_report.h"
#include "platform/file_input.h"
#include "platform/std_streams.h"
#include "session/landing_folders.h"

namespace sorvane {
namespace {

constexpr std::uint32_t LOCAL_FAILURE = 255;
// How long listing the hosts may take without --timeout: the desktop
// application answers it from memory, so this only ever ends a stall.
constexpr std::chrono::seconds LOOKUP_LIMIT{30};

std::uint32_t report(ConsoleSink& err, const ToolError& error) {
  (void)err.write_all(inert_error_line(error));
  return LOCAL_FAILURE;
}

// The hosts' names are only for their labels: with IDs given, the run goes
// on without them, saying why they are missing.
void warn_unnamed(ConsoleSink& err, const ToolError& lookup_failure) {
  (void)err.write_all("sorvane: 无法取得主机名称，各主机以 ID 运行：[" +
                      std::string(code_word(lookup_failure.code)) + "] " +
                      inert(lookup_failure.message) + "\n");
}

FleetPlan fleet_plan(const FanOutPlan& plan) {
  FleetPlan fleet;
  fleet.hosts = plan.hosts;
  fleet.parallel = plan.parallel;
  fleet.max_fail = plan.max_fail;
  fleet.failure_policy = plan.failure_policy;
  return fleet;
}

// --gather: nothing until every host has ended, then each group of equal
// results once, the summary and the status.
std::uint32_t show_gathered(const FleetPlan& fleet, const FanOutPlan& plan, OutputStreams& streams,
                            const std::function<std::vector<HostOutcome>(FleetObserver&)>& run) {
  GatheredOutput gathered(fleet.hosts.size());
  (void)run(gathered);  // each outcome, as ended() heard it, is in `gathered`
  auto shown = plan.json
                   ? gathered.write_json(plan.hosts, streams.out, plan.max_output)
                   : gathered.write_text(plan.hosts, streams, plan.colour_out, plan.colour_err);
  if (!shown) return report(streams.err, connection_broken(shown.error().text));
  if (plan.summary) (void)streams.err.write_all(fan_out_summary(plan.hosts, gathered.outcomes()));
  return fan_out_status(gathered.outcomes());
}

// The fleet on the console: each host as it goes, then the summary and status.
std::uint32_t show_fleet(const FleetPlan& fleet, const FanOutPlan& plan, OutputStreams& streams,
                         const std::function<std::vector<HostOutcome>(FleetObserver&)>& run) {
  if (plan.gather) return show_gathered(fleet, plan, streams, run);
  SharedConsole console(streams);
  FleetConsole shown(fleet.hosts, {plan.json, plan.max_output, plan.colour_out, plan.colour_err},
                     console);
  const std::vector<HostOutcome> outcomes = shown.as_shown(run(shown));
  if (plan.summary) {
    (void)console.write(RemoteStream::Stderr, fan_out_summary(plan.hosts, outcomes));
  }
  return fan_out_status(outcomes);
}

// The text of the hosts file; "-" is standard input.
Result<std::string, ToolError> read_hosts_file(const NativePath& file,
                                               const InputReader& read_input) {
  if (file == NativePath(1, '-')) {
    auto text = read_input(HOSTS_FILE_LIMIT);
    if (!text) {
      return fail(ToolError{ErrorCode::BadRequest,
                            std::string(messages::CANNOT_READ_STDIN) + text.error().text});
    }
    return std::move(*text);
  }
  const std::string unreadable = "无法读取主机列表文件：" + native_to_utf8_lossy(file);
  auto opened = open_for_reading(file);
  if (!opened) return fail(ToolError{ErrorCode::BadRequest, unreadable});
  auto text = read_to_end(**opened, HOSTS_FILE_LIMIT);
  if (!text) {
    return fail(
        ToolError{ErrorCode::BadRequest,
                  unreadable + std::string(messages::FULL_WIDTH_COLON) + text.error().text});
  }
  return std::move(*text);
}

// The IDs given: the list on the command line, or the hosts file's.
Result<std::vector<std::string>, ToolError> given_ids(const FleetOptions& options,
                                                      std::string_view id_list,
                                                      const InputReader& read_input) {
  if (!options.hosts_file) return split_ids(id_list);
  auto text = read_hosts_file(*options.hosts_file, read_input);
  if (!text) return fail(std::move(text).error());
  return hosts_file_ids(*text);
}

// The hosts the IDs or the query choose, named by the desktop application;
// a listing that fails is said on `err` when the IDs run without names.
Result<std::vector<HostLabel>, ToolError> chosen_hosts(const FleetOptions& options,
                                                       std::vector<std::string> ids,
                                                       const std::string& endpoint,
                                                       ConsoleSink& err) {
  std::optional<ToolError> lookup_failure;
  auto hosts = choose_hosts(
      HostChoice{std::move(ids), options.query}, [&](const std::optional<std::string>& query) {
        auto listed = list_hosts(endpoint, query, options.timeout.value_or(LOOKUP_LIMIT));
        if (!listed) lookup_failure = listed.error();
        return listed;
      });
  if (hosts && lookup_failure) warn_unnamed(err, *lookup_failure);
  return hosts;
}

FanOutPlan plan_of(const Cli::Exec& exec, std::vector<HostLabel> hosts, OutputStreams& streams) {
  FanOutPlan plan;
  plan.hosts = std::move(hosts);
  plan.parallel = exec.parallel;
  plan.json = exec.json;
  plan.max_output = exec.max_output;
  plan.colour_out = colour_on(streams.out, StdStream::Output);
  plan.colour_err = colour_on(streams.err, StdStream::Error);
  plan.summary = streams.err.is_terminal();
  plan.gather = exec.gather;
  if (auto policy = failure_policy(exec)) std::tie(plan.max_fail, plan.failure_policy) = *policy;
  return plan;
}

}  // namespace

Result<std::vector<HostLabel>, ToolError> choose_hosts(const Cli::Exec& exec,
                                                       const HostLister& list_hosts) {
  return choose_hosts(HostChoice{split_ids(exec.id), exec.query}, list_hosts);
}

std::uint32_t fan_out(const FanOutPlan& plan, const HostConversation& converse,
                      OutputStreams& streams) {
  const FleetPlan fleet = fleet_plan(plan);
  return show_fleet(fleet, plan, streams, [&](FleetObserver& observer) {
    return run_fleet(
        fleet,
        [&](const HostLabel& host, ConversationEvents& events) {
          return converse(host.id, events);
        },
        observer);
  });
}

std::uint32_t run_on_several_hosts(const Cli::Exec& exec, const InputReader& read_input,
                                   OutputStreams& streams) {
  // The command is read, checked and encoded once; the longest ID given must
  // fit in a frame with it before anything is asked.
  auto command = prepare_command(exec, read_input);
  if (!command) return report(streams.err, command.error());
  auto ids = given_ids(exec, exec.id, read_input);
  if (!ids) return report(streams.err, ids.error());
  const ExecOnHosts operation(*command);
  if (auto fits = operation.check_fits(*ids); !fits) return report(streams.err, fits.error());
  const std::string endpoint = pipe_name(data_dir());
  auto hosts = chosen_hosts(exec, std::move(*ids), endpoint, streams.err);
  if (!hosts) return report(streams.err, hosts.error());

  const FanOutPlan plan = plan_of(exec, std::move(*hosts), streams);
  FleetPlan fleet = fleet_plan(plan);
  fleet.timeout = exec.timeout;
  SharedEndpoint shared(endpoint);
  return show_fleet(fleet, plan, streams, [&](FleetObserver& observer) {
    return run_fleet(fleet, shared, operation, observer);
  });
}

bool transfers_on_several_hosts(const Cli& cli) {
  if (const auto* upload = std::get_if<Cli::Upload>(&cli.command)) {
    return runs_on_several_hosts(*upload, upload->id);
  }
  if (const auto* download = std::get_if<Cli::Download>(&cli.command)) {
    return runs_on_several_hosts(*download, download->id);
  }
  return false;
}

std::uint32_t transfer_on_several_hosts(const Cli& cli, const InputReader& read_input,
                                        OutputStreams& streams) {
  const auto* upload = std::get_if<Cli::Upload>(&cli.command);
  const auto* download = std::get_if<Cli::Download>(&cli.command);
  const FleetOptions& options = upload != nullptr ? static_cast<const FleetOptions&>(*upload)
                                                  : static_cast<const FleetOptions&>(*download);
  auto local = absolute_local_path(upload != nullptr ? upload->local : download->local);
  if (!local) return report(streams.err, local.error());
  auto ids = given_ids(options, upload != nullptr ? upload->id : download->id, read_input);
  if (!ids) return report(streams.err, ids.error());
  const std::string endpoint = pipe_name(data_dir());
  auto hosts = chosen_hosts(options, std::move(*ids), endpoint, streams.err);
  if (!hosts) return report(streams.err, hosts.error());

  FleetPlan fleet;
  fleet.hosts = std::move(*hosts);
  fleet.parallel = options.parallel;
  fleet.timeout = options.timeout;
  if (auto policy = failure_policy(options))
    std::tie(fleet.max_fail, fleet.failure_policy) = *policy;
  std::unique_ptr<FleetOperation> operation;
  if (upload != nullptr) {
    operation = std::make_unique<UploadToHosts>(std::move(*local), upload->remote);
  } else {
    operation = std::make_unique<DownloadFromHosts>(
        download->remote, landing_folder_for(fleet.hosts, std::move(*local)));
  }
  TransferFleetReport shown(
      fleet.hosts, streams,
      {colour_on(streams.out, StdStream::Output), colour_on(streams.err, StdStream::Error)});
  SharedEndpoint shared(endpoint);
  return shown.finish(run_fleet(fleet, shared, *operation, shown));
}

}  // namespace sorvane
