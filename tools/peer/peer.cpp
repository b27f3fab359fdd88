#include "peer.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <variant>

#include "base/thread_pool.h"
#include "demo.h"
#include "faults.h"
#include "hosts.h"
#include "ipc/endpoint.h"
#include "ipc/frame.h"
#include "listener.h"
#include "script.h"
#include "text/utf8.h"
#include "transfer.h"

namespace sorvane::peer {
namespace {

// Connections served at once: far more than the tests open at once.
constexpr std::size_t PARALLEL_CONNECTIONS = 64;

constexpr const char* DESCRIPTION =
    "sorvane-peer: a stand-in for the Sorvane desktop application, for development, tests and "
    "demos.\n"
    "It is NOT the desktop application: it holds no credentials and connects to no SSH host.\n"
    "It listens where `sorvane` looks for the desktop application (SORVANE_DATA_DIR, or "
    "--data-dir),\n"
    "prints \"listening on <address>\" once ready, and serves connections as they come, each on\n"
    "a thread of its own, as the desktop application may.";

constexpr const char* FOOTER = R"(Modes:
  demo --hosts FILE   answer like the desktop application would, on this machine:
                      list from FILE (a JSON array of hosts), exec with the local
                      shell, upload/download as local copies ("~" = home directory)
  script FILE         replay FILE's steps on every connection (after reading the request)
Both take --data-dir DIR (else SORVANE_DATA_DIR, else sorvane's default),
--request-out FILE (each request's payload, raw), --once (one connection) and
--one-at-a-time (one connection after another, with a single pipe instance on
Windows: a desktop application that serves fewer conversations than asked).

Script format: one step per line; blank lines and lines starting with '#' are
ignored; the text after the keyword starts after exactly one space.
  json <text>                    Json frame, payload verbatim
  stdout <escaped>               Stdout frame
  stderr <escaped>               Stderr frame
  frame <kind-hex> <len> <escaped>
                                 any kind byte; declared length in decimal (or '-'
                                 for the real one), which may disagree with the payload
  raw <escaped>                  bytes straight onto the connection
  pause <ms>                     sleep
  close                          close the connection now
  hold                           keep the connection open until the client closes it
  stdout-repeat <size> <count>   <count> Stdout frames of <size> pattern bytes
  hosts-repeat <n>               a hosts reply with <n> generated hosts
Escapes: \n \r \t \0 \\ \xHH. After the last step the connection is closed.

Faults (demo mode, for tests and demos only): --faults LIST --fault-rate P
--seed S makes a share P (0 to 1) of the conversations misbehave, one fault
each, drawn from LIST (comma-separated, or "all") by the seed and the
conversation's number, so the same seed gives the same faults. Each fault
fired is logged on stderr as "conversation N: fault NAME: REQUEST".
--fault-requests TYPES keeps the faults to requests of these types (list,
exec, upload, download; default all).
  close             the frames before the final reply, then close
  stall             the frames before the final reply, then nothing more
  truncate-header   the final reply cut inside its frame header, then close
  truncate-body     the final reply cut inside its payload, then close
  oversize          the final reply's frame declares more than 16 MiB
  bad-kind          a frame of an unknown kind before the final reply
  bad-json          the final reply is not valid JSON
  final-first       the final reply first, then the frames before it
  trickle           the whole reply, one byte every 50 ms
  no-read           the request is never served; nothing is sent
  late-first        the whole reply, 6 s late
A faulty reply is sent once it is whole (a command's output is not
streamed). "stall" and "no-read" wait until the client closes.)";

struct Options {
  FaultPlan faults;
  std::vector<std::string> fault_requests;  // empty: every type
  std::optional<std::string> data_dir;
  std::optional<std::string> request_out;
  bool once = false;
  bool parallel = true;  // the flag is kept for scripts that still give it
  bool one_at_a_time = false;
  std::string script_file;
  std::string hosts_file;
};

using Mode = std::variant<Script, Json /* demo hosts */>;

void add_common_options(CLI::App& command, Options& options) {
  command
      .add_option("--data-dir", options.data_dir,
                  "Data directory to derive the endpoint from (default: as sorvane does)")
      ->option_text("DIR");
  command
      .add_option("--request-out", options.request_out,
                  "Write each request payload (raw bytes) to FILE")
      ->option_text("FILE");
  command.add_flag("--once", options.once, "Serve one connection, then exit");
  command.add_flag("--one-at-a-time", options.one_at_a_time,
                   "Serve one connection after another (Windows: one pipe instance)");
  command.add_flag("--parallel", options.parallel,
                   "Serve each connection on a thread of its own, as they come (the default)");
}

Result<std::string, std::string> read_file(const std::string& path) {
  std::ifstream in(path_from_utf8(path), std::ios::binary);
  if (!in) return fail("cannot read " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

Result<Mode, std::string> load_mode(const CLI::App& demo, const Options& options) {
  if (demo.parsed()) {
    auto text = read_file(options.hosts_file);
    if (!text) return fail(std::move(text).error());
    auto hosts = parse_hosts(*text);
    if (!hosts) return fail(options.hosts_file + ": " + hosts.error());
    return Mode{std::move(*hosts)};
  }
  auto text = read_file(options.script_file);
  if (!text) return fail(std::move(text).error());
  auto script = parse_script(*text);
  if (!script) return fail(options.script_file + ": " + script.error());
  return Mode{std::move(*script)};
}

void log_line(const std::string& text) {
  std::fprintf(stderr, "sorvane-peer: %s\n", text.c_str());
  std::fflush(stderr);
}

// Written beside the file and renamed over it, so that a test waiting for the
// file never reads it half written; each connection writes its own partial
// file, as several may be saving at once.
void save_request(const std::optional<std::string>& path, ByteSpan payload,
                  std::uint64_t connection_number) {
  if (!path) return;
  const auto final_path = path_from_utf8(*path);
  auto partial_path = final_path;
  partial_path += ".partial." + std::to_string(connection_number);
  {
    std::ofstream out(partial_path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(payload.data()),
              static_cast<std::streamsize>(payload.size()));
    if (!out.flush()) {
      log_line("cannot write " + *path);
      return;
    }
  }
  std::error_code renamed;
  std::filesystem::rename(partial_path, final_path, renamed);
  if (renamed) {  // a file system that will not rename over a file
    std::error_code ignored;
    std::filesystem::remove(final_path, ignored);
    std::filesystem::rename(partial_path, final_path, renamed);
  }
  if (renamed) log_line("cannot write " + *path + ": " + renamed.message());
}

// The request on one line of the log, whatever bytes it holds.
std::string request_for_log(ByteSpan payload) {
  std::string text =
      text::utf8_lossy({reinterpret_cast<const char*>(payload.data()), payload.size()});
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return text;
}

std::string_view request_type(const DemoRequest& request) {
  if (std::holds_alternative<ListRequest>(request)) return "list";
  if (std::holds_alternative<ExecRequest>(request)) return "exec";
  if (const auto* transfer = std::get_if<TransferRequest>(&request)) {
    return transfer->upload ? "upload" : "download";
  }
  return "activate";
}

// The fault drawn for this conversation, when its request is of a type
// that may fault.
std::optional<Fault> fault_for(const Options& options, std::uint64_t number,
                               std::string_view payload) {
  const auto fault = draw_fault(options.faults, number);
  if (!fault || options.fault_requests.empty()) return fault;
  const auto request = decode_request(payload);
  if (!request) return std::nullopt;
  const auto& types = options.fault_requests;
  if (std::find(types.begin(), types.end(), request_type(*request)) == types.end()) {
    return std::nullopt;
  }
  return fault;
}

// The demo's reply as it would have gone, then what the fault makes of it.
IoResult<void> serve_faulty(Fault fault, std::string_view payload, const Json& hosts,
                            PeerConnection& connection) {
  Script script = faulty_reply(Fault::NoRead, {});
  if (fault != Fault::NoRead) {
    RecordedReply recorded;
    (void)serve_demo(payload, hosts, recorded);  // writes to memory; cannot fail
    script = faulty_reply(fault, recorded.bytes());
  }
  return run_script(script, connection, connection);
}

void serve(PeerConnection& connection, const Mode& mode, const Options& options,
           std::uint64_t number) {
  BufferedReader reader(connection);
  auto request = read_frame(reader);
  if (!request || !*request) {
    log_line("no request: " +
             (request ? std::string("the client closed the connection") : request.error().text));
    return;
  }
  const Frame& frame = **request;
  save_request(options.request_out, frame.payload, number);

  const std::string_view payload(reinterpret_cast<const char*>(frame.payload.data()),
                                 frame.payload.size());
  // The request is read even for no-read, to name it in the log: a client
  // cannot tell a small request left in the pipe from one read and ignored.
  const auto fault = std::holds_alternative<Json>(mode) && frame.kind == FrameKind::Json
                         ? fault_for(options, number, payload)
                         : std::nullopt;
  IoResult<void> served;
  if (fault) {
    log_line("conversation " + std::to_string(number) + ": fault " +
             std::string(fault_name(*fault)) + ": " + request_for_log(frame.payload));
    served = serve_faulty(*fault, payload, std::get<Json>(mode), connection);
  } else if (const auto* script = std::get_if<Script>(&mode)) {
    served = run_script(*script, connection, connection);
  } else if (frame.kind != FrameKind::Json) {
    served = send_json(connection,
                       error_reply(ErrorCode::BadRequest, "无法识别的请求：请求必须是 JSON 帧"));
  } else {
    served = serve_demo(payload, std::get<Json>(mode), connection, &connection);
  }
  if (!served) log_line("connection ended early: " + served.error().text);
}

int listen_and_serve(const Mode& mode, const Options& options) {
  const NativePath dir = options.data_dir ? utf8_to_native(*options.data_dir) : data_dir();
  const NativePath address = endpoint_address(pipe_name(dir));
  auto listener = Listener::open(address, options.one_at_a_time);
  if (!listener) {
    log_line(listener.error());
    return 1;
  }
  std::printf("listening on %s\n", native_to_utf8_lossy(address).c_str());
  std::fflush(stdout);
  // Joined before the listener closes; connections past its threads wait.
  ThreadPool pool(PARALLEL_CONNECTIONS);
  std::uint64_t conversations = 0;
  do {
    auto connection = listener->accept(!options.once);
    const std::uint64_t number = ++conversations;
    if (!connection) {
      log_line("cannot accept a connection: " + connection.error().text);
      return 1;
    }
    if (!options.one_at_a_time) {
      std::shared_ptr client = std::move(*connection);
      auto queued = pool.submit([client, &mode, &options, number] {
        serve(*client, mode, options, number);
        client->close();
      });
      if (!queued) log_line("cannot serve a connection: " + queued.error());
      continue;
    }
    serve(**connection, mode, options, number);
    (*connection)->close();
  } while (!options.once);
  return 0;
}

}  // namespace

int peer_main(std::vector<std::string> arguments) {
  CLI::App app(DESCRIPTION, "sorvane-peer");
  app.footer(FOOTER);
  app.require_subcommand(1);
  Options options;
  CLI::App* script = app.add_subcommand("script", "Replay a script of frames on every connection");
  script->add_option("FILE", options.script_file, "The script")->required();
  add_common_options(*script, options);
  CLI::App* demo =
      app.add_subcommand("demo", "Answer requests like the desktop application, on this machine");
  demo->add_option("--hosts", options.hosts_file, "JSON array of the saved hosts")
      ->required()
      ->option_text("FILE");
  add_common_options(*demo, options);
  std::string fault_list;
  demo->add_option("--faults", fault_list, "Faults to inject (see below); for tests and demos only")
      ->option_text("LIST");
  demo->add_option("--fault-rate", options.faults.rate, "Share of conversations that fault")
      ->check(CLI::Range(0.0, 1.0))
      ->option_text("P");
  demo->add_option("--seed", options.faults.seed, "Seed of the faults drawn")->option_text("S");
  demo->add_option("--fault-requests", options.fault_requests,
                   "Request types that may fault (default: all)")
      ->delimiter(',')
      ->check(CLI::IsMember({"list", "exec", "upload", "download"}))
      ->option_text("TYPES");

  std::vector<std::string> reversed(arguments.rbegin(),
                                    arguments.rend() - 1);  // CLI11 pops from the back
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : 2;
  }
  if (!fault_list.empty()) {
    auto faults = parse_faults(fault_list);
    if (!faults) {
      log_line("--faults: " + faults.error());
      return 2;
    }
    options.faults.faults = std::move(*faults);
  }
  auto mode = load_mode(*demo, options);
  if (!mode) {
    log_line(mode.error());
    return 2;
  }
  return listen_and_serve(*mode, options);
}

}  // namespace sorvane::peer
