#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "base/version.h"
#include "text/utf8.h"

namespace sorvane {
namespace {

constexpr std::string_view ABOUT = "Run commands and move files on the SSH hosts saved in Sorvane";
constexpr std::string_view LONG_ABOUT =
    "Run commands and move files on the SSH hosts saved in Sorvane.\n"
    "\n"
    "Sorvane holds the passwords and keys and makes the connections; this command never sees them.";
constexpr std::string_view AFTER_HELP =
    "Hosts are named by the 16-character ID that `sorvane list` prints (the one Sorvane copies "
    "with 复制 ID).\n"
    "Sorvane must be running, with 设置 → 外部 CLI → 启用外部 CLI turned on.\n"
    "\n"
    "Exit codes: exec exits with the remote command's code; 1 means a transfer finished with "
    "failures;\n"
    "255 means sorvane could not do what was asked (the reason is printed as `sorvane: [code] "
    "message`).";

constexpr std::string_view LIST_ABOUT = "List the saved hosts";
constexpr std::string_view EXEC_ABOUT = "Run one command on a saved host and print its output";
constexpr std::string_view EXEC_LONG_ABOUT =
    "Run one command on a saved host and print its output.\n"
    "\n"
    "Opens a temporary connection, runs the command in the login shell, and closes it. "
    "The command gets no stdin. The exit code is the remote command's.\n"
    "\n"
    "With several hosts (ID,ID,..., --query or --hosts-file) the command runs on each, "
    "--parallel at a time, and every line of output goes to the stream it came on behind its "
    "host's name. With --fail-fast or --max-fail N no more hosts start after that many have "
    "failed, and the rest are reported as not run. The exit code is then 0 when every host "
    "exited 0, 255 when any host could not be run or was not run (its error line says why), and "
    "1 otherwise. With --gather (-b), once every host has ended, hosts with the same output and "
    "result are shown once, each group under a header naming its hosts.";
constexpr std::string_view UPLOAD_ABOUT = "Copy a local file or folder to a saved host";
constexpr std::string_view UPLOAD_LONG_ABOUT =
    "Copy a local file or folder to a saved host.\n"
    "\n"
    "Like scp: when the destination is an existing directory the source goes inside it under its "
    "own "
    "name; otherwise the destination is the copy's path. Folders are copied recursively; existing "
    "files are overwritten.\n"
    "\n"
    "With several hosts (ID,ID,..., --query or --hosts-file) the copy goes to each, --parallel at "
    "a time, and each host's line (files, bytes, failures) shows as it ends, or one JSON object "
    "per host and line. The exit code is then 0 when every copy succeeded, 255 when any host could "
    "not be run, and 1 when some files failed.";
constexpr std::string_view DOWNLOAD_ABOUT =
    "Copy a file or folder from a saved host to this machine";
constexpr std::string_view DOWNLOAD_LONG_ABOUT =
    "Copy a file or folder from a saved host to this machine.\n"
    "\n"
    "Destination rules are scp's, as for `upload`.\n"
    "\n"
    "With several hosts each copy lands in a folder of the host's own, LOCAL/<host name>/, made "
    "when missing. The host ID stands in for a name that another chosen host shares or that "
    "cannot be one folder name; a host whose ID cannot be one either is not run. Lines, JSON and "
    "exit codes as for `upload`.";
constexpr std::string_view HELP_ABOUT = "Print this message or the help of the given subcommand(s)";

constexpr std::string_view ID_HELP = "Host ID, from `sorvane list`";
constexpr std::string_view EXEC_ID_HELP =
    "Host ID, from `sorvane list`; several separated by commas";
constexpr std::string_view SEVERAL_HOSTS_TIP =
    "\n\n  tip: it goes with several hosts: ID,ID,... or --query";
constexpr std::string_view TRANSFER_SEVERAL_HOSTS_TIP =
    "\n\n  tip: it goes with several hosts: ID,ID,..., --query or --hosts-file";
constexpr std::string_view HOSTS_FILE_HELP =
    "Run on the hosts whose IDs FILE lists, one per line (`#` starts a comment; - reads stdin), "
    "instead of ID";
constexpr std::string_view FAIL_FAST_HELP =
    "With several hosts: start no more hosts once one has failed (same as --max-fail 1)";
constexpr std::string_view MAX_FAIL_HELP =
    "With several hosts: start no more hosts once N have failed (a non-zero exit, failed files, "
    "an error or a timeout); those running finish, the rest are reported as not run";
constexpr std::string_view SUMMARY_JSON_HELP =
    "Print the summary as JSON. Implied when stdout is not a terminal";

// ---------------------------------------------------------------------------
// Help pages: about, usage, commands, arguments, options, after-help.

struct HelpRow {
  std::string name;
  std::string description;
};

struct HelpSection {
  std::string title;
  std::vector<HelpRow> rows;
};

std::string command_path(const CLI::App* app) {
  std::string path = app->get_name();
  for (const CLI::App* parent = app->get_parent(); parent != nullptr;
       parent = parent->get_parent()) {
    path.insert(0, parent->get_name() + " ");
  }
  return path;
}

bool is_help_option(const CLI::App* app, const CLI::Option* option) {
  return option == app->get_help_ptr() || option == app->get_help_all_ptr();
}

std::string positional_display(const CLI::Option* option) {
  // A positional that the parser need not require may still be shown as it
  // is meant to be read (`exec`'s ID, for which --query can stand in).
  if (!option->get_option_text().empty()) return option->get_option_text();
  const std::string& name = option->get_name();
  std::string shown = option->get_required() ? "<" + name + ">" : "[" + name + "]";
  if (option->get_expected_max() > 1) shown += "...";
  return shown;
}

std::string option_display(const CLI::Option* option) {
  std::vector<std::string> names;
  for (const auto& short_name : option->get_snames()) names.push_back("-" + short_name);
  for (const auto& long_name : option->get_lnames()) names.push_back("--" + long_name);
  std::string shown = option->get_snames().empty() ? "    " : "";
  for (std::size_t i = 0; i < names.size(); ++i) shown += (i == 0 ? "" : ", ") + names[i];
  if (option->get_expected_max() > 0) shown += " <" + option->get_type_name() + ">";
  return shown;
}

class HelpFormatter final : public CLI::Formatter {
 public:
  void set_long_about(const CLI::App* app, std::string_view text) { long_abouts_[app] = text; }
  void set_after_help(const CLI::App* app, std::string_view text) { after_helps_[app] = text; }

  // AppFormatMode::All stands for the long help (`--help`), anything else
  // for the short one (`-h`).
  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode mode) const override {
    const bool long_help = mode == CLI::AppFormatMode::All;
    std::string page = about(app, long_help) + "\n\nUsage: " + usage_line(app) + "\n";
    const auto sections = help_sections(app, long_help);
    const std::size_t width = name_column_width(sections);
    for (const auto& section : sections) {
      if (section.rows.empty()) continue;
      page += "\n" + section.title + ":\n";
      for (const auto& row : section.rows) {
        page += "  " + row.name + std::string(width - row.name.size() + 2, ' ') + row.description +
                "\n";
      }
    }
    if (auto found = after_helps_.find(app); found != after_helps_.end()) {
      page += "\n" + std::string(found->second) + "\n";
    }
    return page;
  }

  static std::string usage_line(const CLI::App* app) {
    std::string usage = command_path(app);
    const auto options = app->get_options([app](const CLI::Option* option) {
      return option->nonpositional() && !is_help_option(app, option) &&
             option != app->get_version_ptr();
    });
    if (!options.empty()) usage += " [OPTIONS]";
    for (const CLI::Option* positional :
         app->get_options([](const CLI::Option* option) { return option->get_positional(); })) {
      usage += " " + positional_display(positional);
    }
    if (!app->get_subcommands({}).empty()) usage += " <COMMAND>";
    return usage;
  }

 private:
  bool has_long_about(const CLI::App* app) const { return long_abouts_.contains(app); }

  std::string about(const CLI::App* app, bool long_help) const {
    if (long_help && has_long_about(app)) return std::string(long_abouts_.at(app));
    return app->get_description();
  }

  std::vector<HelpSection> help_sections(const CLI::App* app, bool long_help) const {
    HelpSection commands{"Commands", {}};
    for (const CLI::App* sub : app->get_subcommands({})) {
      commands.rows.push_back({sub->get_name(), sub->get_description()});
    }
    HelpSection arguments{"Arguments", {}};
    HelpSection options{"Options", {}};
    for (const CLI::Option* option : app->get_options()) {
      if (option->get_positional()) {
        arguments.rows.push_back({positional_display(option), option->get_description()});
      } else if (!is_help_option(app, option) && option != app->get_version_ptr()) {
        options.rows.push_back({option_display(option), option->get_description()});
      }
    }
    options.rows.push_back({"-h, --help", help_flag_description(app, long_help)});
    if (const CLI::Option* version = app->get_version_ptr(); version != nullptr) {
      options.rows.push_back({option_display(version), version->get_description()});
    }
    return {commands, arguments, options};
  }

  std::string help_flag_description(const CLI::App* app, bool long_help) const {
    if (!has_long_about(app)) return "Print help";
    return long_help ? "Print help (see a summary with '-h')"
                     : "Print help (see more with '--help')";
  }

  static std::size_t name_column_width(const std::vector<HelpSection>& sections) {
    std::size_t width = 0;
    for (const auto& section : sections) {
      for (const auto& row : section.rows) width = std::max(width, row.name.size());
    }
    return width;
  }

  std::map<const CLI::App*, std::string_view> long_abouts_;
  std::map<const CLI::App*, std::string_view> after_helps_;
};

// ---------------------------------------------------------------------------
// The definition, with the variables its arguments fill.

std::string reject_invalid_unicode(std::string& value) {
  return text::is_valid_utf8(value) ? "" : "invalid UTF-8 was detected in the value";
}

std::string reject_empty_path(std::string& value) {
  return value.empty() ? "a value is required but none was supplied" : "";
}

constexpr unsigned MOST_PARALLEL = 1024;

// Decimal digits only, and within `Count`: no sign, no blanks, no wrapping
// round (the parser alone would take "-1" as the largest count).
template <class Count>
std::optional<Count> count_of(const std::string& value) {
  Count count = 0;
  const char* end = value.data() + value.size();
  const auto [stop, error] = std::from_chars(value.data(), end, count);
  if (error != std::errc() || stop != end) return std::nullopt;
  return count;
}

std::string reject_bad_parallel(std::string& value) {
  const auto count = count_of<unsigned>(value);
  if (count && *count >= 1 && *count <= MOST_PARALLEL) return "";
  return "not a number from 1 to " + std::to_string(MOST_PARALLEL) + ": " + text::utf8_lossy(value);
}

std::string reject_bad_max_fail(std::string& value) {
  const auto count = count_of<std::uint32_t>(value);
  if (count && *count >= 1) return "";
  return "not a number of hosts (1 or more): " + text::utf8_lossy(value);
}

std::string reject_bad_byte_count(std::string& value) {
  return count_of<std::uint64_t>(value) ? "" : "not a number of bytes: " + text::utf8_lossy(value);
}

std::string reject_bad_duration(std::string& value) {
  return parse_duration(value) ? "" : "not a duration (30s, 5m, 1h): " + text::utf8_lossy(value);
}

struct Definition {
  // Only the subcommand `only` when it names one, else all of them.
  explicit Definition(std::string_view only = {});

  CLI::App app{std::string(ABOUT)};
  std::shared_ptr<HelpFormatter> formatter = std::make_shared<HelpFormatter>();
  const CLI::Validator valid_unicode{reject_invalid_unicode, "", ""};
  const CLI::Validator non_empty_path{reject_empty_path, "", ""};
  const CLI::Validator duration{reject_bad_duration, "", ""};
  const CLI::Validator parallel_count{reject_bad_parallel, "", ""};
  const CLI::Validator max_fail_count{reject_bad_max_fail, "", ""};
  const CLI::Validator byte_count{reject_bad_byte_count, "", ""};

  CLI::App* list = nullptr;
  CLI::App* exec = nullptr;
  CLI::App* upload = nullptr;
  CLI::App* download = nullptr;
  CLI::App* help = nullptr;

  std::string query;
  CLI::Option* query_option = nullptr;
  CLI::Option* command_option = nullptr;
  CLI::Option* exec_id_option = nullptr;
  // The options of several hosts of each subcommand that has them.
  struct FleetOptionSet {
    CLI::Option* query = nullptr;
    CLI::Option* hosts_file = nullptr;
    CLI::Option* json = nullptr;
    std::vector<CLI::Option*> several_hosts_only;
  };
  std::map<const CLI::App*, FleetOptionSet> fleet_options;
  std::string id, command, local, remote;
  bool json = false;
  bool use_stdin = false;
  bool gather = false;
  unsigned parallel = DEFAULT_PARALLEL;  // checked as text first
  std::string timeout;
  std::string hosts_file;
  std::uint32_t max_fail = 0;
  bool fail_fast = false;
  std::uint64_t max_output = DEFAULT_MAX_OUTPUT;
  std::vector<std::string> help_path;

 private:
  CLI::App* add_subcommand(std::string_view name, std::string_view about);
  void add_exec();
  void add_transfer(CLI::App* sub, std::string_view query_help);
  FleetOptionSet& add_fleet_options(CLI::App* sub, std::string_view query_help,
                                    std::string_view json_help);
  void add_id(CLI::App* sub);
  void add_text(CLI::App* sub, std::string_view name, std::string& target, std::string_view help);
  void add_local(CLI::App* sub, std::string_view help);
  static CLI::Option* add_flag(CLI::App* sub, std::string_view name, bool& target,
                               std::string_view help);
};

Definition::Definition(std::string_view only) {
  // Building a subcommand's definition is most of the cost of a short run;
  // the others are only needed when the first word names none of them.
  auto wanted = [only](std::string_view name) { return only.empty() || only == name; };
  // Each option at most once, and a flag never takes a value ("--json=false").
  app.option_defaults()
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw)
      ->disable_flag_override();
  app.formatter(formatter);
  formatter->set_long_about(&app, LONG_ABOUT);
  formatter->set_after_help(&app, AFTER_HELP);
  // Help and version flags first: subcommands copy the help flags of their parent.
  app.set_help_flag("-h", "Print help");
  app.set_help_all_flag("--help", "Print help");
  app.set_version_flag("-V,--version",
                       std::string(PROGRAM_NAME) + " " + std::string(PROGRAM_VERSION),
                       "Print version");
  // CLI11 reads "/x" as an option on Windows; here it is a remote path.
  app.allow_windows_style_options(false);

  if (wanted("list")) {
    list = add_subcommand("list", LIST_ABOUT);
    query_option = list->add_option("-q,--query", query,
                                    "Only hosts whose name, host, user, group or ID matches")
                       ->type_name("QUERY")
                       ->check(valid_unicode);
    add_flag(list, "--json", json, "Print JSON. Implied when stdout is not a terminal");
  }

  if (wanted("exec")) add_exec();

  if (wanted("upload")) {
    upload = add_subcommand("upload", UPLOAD_ABOUT);
    formatter->set_long_about(upload, UPLOAD_LONG_ABOUT);
    add_id(upload);
    add_local(upload, "Local file or folder");
    add_text(upload, "REMOTE", remote, "Remote destination. `~` is the login directory");
    add_transfer(upload, "Copy to every host that `sorvane list -q QUERY` shows, instead of ID");
  }

  if (wanted("download")) {
    download = add_subcommand("download", DOWNLOAD_ABOUT);
    formatter->set_long_about(download, DOWNLOAD_LONG_ABOUT);
    add_id(download);
    add_text(download, "REMOTE", remote, "Remote file or folder. `~` is the login directory");
    add_local(download, "Local destination");
    add_transfer(download,
                 "Copy from every host that `sorvane list -q QUERY` shows, instead of ID");
  }

  if (wanted("help")) {
    help = add_subcommand("help", HELP_ABOUT);
    help->add_option("COMMAND", help_path, "Print help for the subcommand(s)")
        ->expected(0, 1 << 16);
  }

  app.require_subcommand(1);
}

CLI::App* Definition::add_subcommand(std::string_view name, std::string_view about) {
  return app.add_subcommand(std::string(name), std::string(about));
}

void Definition::add_exec() {
  exec = add_subcommand("exec", EXEC_ABOUT);
  formatter->set_long_about(exec, EXEC_LONG_ABOUT);
  add_text(exec, "ID", id, EXEC_ID_HELP);
  // Required unless --query chooses the hosts, which to_cli checks.
  exec_id_option = exec->get_option("ID")->required(false)->option_text("<ID>");
  add_text(exec, "COMMAND", command, "One complete remote shell command, quoted as one argument");
  command_option = exec->get_option("COMMAND");
  command_option->required(false);
  add_flag(exec, "--stdin", use_stdin,
           "Read the command from stdin instead, for commands with quotes, pipes, `$` or several "
           "lines");
  exec->get_option("--stdin")->excludes(command_option);
  FleetOptionSet& fleet =
      add_fleet_options(exec, "Run on every host that `sorvane list -q QUERY` shows, instead of ID",
                        "With several hosts: one JSON object per host and line, as each ends");
  fleet.several_hosts_only.push_back(fleet.json);
  fleet.several_hosts_only.push_back(
      exec->add_option("--max-output", max_output,
                       "With --json: bytes of each stream kept per host (default 1048576)")
          ->type_name("BYTES")
          ->check(byte_count));
  fleet.several_hosts_only.push_back(
      add_flag(exec, "-b,--gather", gather,
               "With several hosts: once every host has ended, show hosts with the same output "
               "and result once, each group under one header"));
}

void Definition::add_transfer(CLI::App* sub, std::string_view query_help) {
  add_fleet_options(sub, query_help, SUMMARY_JSON_HELP);
  // With --query or --hosts-file the positionals move up one place, so
  // to_cli tells which are missing; the usage still shows them required.
  for (CLI::Option* positional :
       sub->get_options([](const CLI::Option* option) { return option->get_positional(); })) {
    positional->required(false)->option_text("<" + positional->get_name() + ">");
  }
}

Definition::FleetOptionSet& Definition::add_fleet_options(CLI::App* sub,
                                                          std::string_view query_help,
                                                          std::string_view json_help) {
  FleetOptionSet& set = fleet_options[sub];
  set.query = sub->add_option("-q,--query", query, std::string(query_help))
                  ->type_name("QUERY")
                  ->check(valid_unicode);
  set.hosts_file = sub->add_option("--hosts-file", hosts_file, std::string(HOSTS_FILE_HELP))
                       ->type_name("FILE")
                       ->check(non_empty_path)
                       ->excludes(set.query);
  set.json = add_flag(sub, "--json", json, json_help);
  CLI::Option* fail_fast_option = nullptr;
  // In this order in the help; the elements are evaluated in order.
  set.several_hosts_only = {
      sub->add_option("--parallel", parallel,
                      "With several hosts: how many run at once (default 8; 1 runs them in turn)")
          ->type_name("N")
          ->check(parallel_count),
      sub->add_option("--timeout", timeout,
                      "With several hosts: stop a host that has not ended after DURATION (30s, "
                      "5m, 1h); listing the hosts first gets as long (default 30s)")
          ->type_name("DURATION")
          ->check(duration),
      fail_fast_option = add_flag(sub, "--fail-fast", fail_fast, FAIL_FAST_HELP),
      sub->add_option("--max-fail", max_fail, std::string(MAX_FAIL_HELP))
          ->type_name("N")
          ->check(max_fail_count)
          ->excludes(fail_fast_option),
  };
  return set;
}

void Definition::add_id(CLI::App* sub) { add_text(sub, "ID", id, ID_HELP); }

void Definition::add_text(CLI::App* sub, std::string_view name, std::string& target,
                          std::string_view help_text) {
  sub->add_option(std::string(name), target, std::string(help_text))
      ->required()
      ->check(valid_unicode);
}

void Definition::add_local(CLI::App* sub, std::string_view help_text) {
  sub->add_option("LOCAL", local, std::string(help_text))->required()->check(non_empty_path);
}

CLI::Option* Definition::add_flag(CLI::App* sub, std::string_view name, bool& target,
                                  std::string_view help_text) {
  return sub->add_flag(std::string(name), target, std::string(help_text))
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw)
      ->disable_flag_override();
}

// ---------------------------------------------------------------------------
// Outcomes.

#ifdef _WIN32
constexpr std::string_view PATH_SEPARATORS = "\\/";
#else
constexpr std::string_view PATH_SEPARATORS = "/";
#endif

std::string program_file_name(std::span<const NativeString> arguments) {
  if (arguments.empty()) return std::string(PROGRAM_NAME);
  std::string path = native_to_utf8_lossy(arguments.front());
  if (auto last = path.find_last_of(PATH_SEPARATORS); last != std::string::npos)
    path.erase(0, last + 1);
  return path.empty() ? std::string(PROGRAM_NAME) : path;
}

const CLI::App* deepest_selected(const CLI::App& app) {
  const CLI::App* current = &app;
  while (!current->get_subcommands().empty()) current = current->get_subcommands().front();
  return current;
}

ParseOutcome error_outcome(const CLI::App* where, std::string_view message) {
  return {"error: " + std::string(message) + "\n\nUsage: " + HelpFormatter::usage_line(where) +
              "\n\nFor more information, try '--help'.\n",
          false, 2};
}

ParseOutcome help_outcome(const HelpFormatter& formatter, const CLI::App* app, bool long_help) {
  const auto mode = long_help ? CLI::AppFormatMode::All : CLI::AppFormatMode::Normal;
  return {formatter.make_help(app, "", mode), true, 0};
}

// Words the parser could not place are the real problem even when a
// required argument is missing too ("exec -V"): name the first of them.
std::optional<std::string> unplaced_word_message(const CLI::App& app) {
  const auto remaining = app.remaining(true);
  // "--" only ends the options; the word after it is the surplus one.
  auto first = std::find_if(remaining.begin(), remaining.end(),
                            [](const std::string& w) { return w != "--"; });
  if (first == remaining.end()) return std::nullopt;
  const std::string word = text::utf8_lossy(*first);
  if (app.get_subcommands().empty() && !word.starts_with('-'))
    return "unrecognized subcommand '" + word + "'";
  return "unexpected argument '" + word + "' found";
}

// `sorvane help [COMMAND]...`: the long help of the named subcommand.
ParseOutcome help_subcommand_outcome(const Definition& definition) {
  const CLI::App* target = &definition.app;
  for (const auto& name : definition.help_path) {
    const auto subcommands = target->get_subcommands({});
    auto found = std::find_if(subcommands.begin(), subcommands.end(),
                              [&name](const CLI::App* sub) { return sub->get_name() == name; });
    if (found == subcommands.end()) {
      return error_outcome(definition.help,
                           "unrecognized subcommand '" + text::utf8_lossy(name) + "'");
    }
    target = *found;
  }
  return help_outcome(*definition.formatter, target, true);
}

// ---------------------------------------------------------------------------
// From a successful parse to Cli. The checks mirror the definition, so they
// only fire if the two ever drift apart.

struct MissingArgument {
  std::string message;
};

// The fleet options given to `sub`, and whether hosts are chosen without IDs.
FleetOptions fleet_options_from(const Definition& d, const CLI::App* sub) {
  const Definition::FleetOptionSet& set = d.fleet_options.at(sub);
  FleetOptions options;
  if (set.query->count() > 0) options.query = d.query;
  if (set.hosts_file->count() > 0) options.hosts_file = argument_to_native(d.hosts_file);
  options.json = d.json;
  options.parallel = d.parallel;
  if (!d.timeout.empty()) options.timeout = parse_duration(d.timeout);
  if (d.max_fail > 0) options.max_fail = d.max_fail;
  options.fail_fast = d.fail_fast;
  return options;
}

bool chosen_without_ids(const FleetOptions& options) {
  return options.query.has_value() || options.hosts_file.has_value();
}

// The options of several hosts are unknown to the one-host form.
std::optional<MissingArgument> only_for_several_hosts(const Definition& d, const CLI::App* sub,
                                                      std::string_view tip) {
  for (const CLI::Option* option : d.fleet_options.at(sub).several_hosts_only) {
    if (option->count() == 0) continue;
    return MissingArgument{"unexpected argument '" + option->get_name() + "' found" +
                           std::string(tip)};
  }
  return std::nullopt;
}

// With --query or --hosts-file the one positional given is the command.
Result<Cli, MissingArgument> exec_from(const Definition& d) {
  Cli::Exec exec;
  static_cast<FleetOptions&>(exec) = fleet_options_from(d, d.exec);
  exec.use_stdin = d.use_stdin;
  const bool has_id = d.exec_id_option->count() > 0;
  if (d.command_option->count() > 0) exec.command = d.command;
  if (chosen_without_ids(exec)) {
    const char* chooser = exec.query ? "ID excludes --query" : "ID excludes --hosts-file";
    if (has_id && exec.command) return fail(MissingArgument{chooser});
    if (has_id) exec.command = d.id;
    if (exec.command && exec.use_stdin) return fail(MissingArgument{"COMMAND excludes --stdin"});
    if (exec.use_stdin && exec.hosts_file == NativePath(1, '-')) {
      return fail(MissingArgument{"--hosts-file - excludes --stdin: both would read stdin"});
    }
  } else {
    exec.id = d.id;
  }
  if (!runs_on_several_hosts(exec)) {
    if (auto unknown = only_for_several_hosts(d, d.exec, SEVERAL_HOSTS_TIP)) return fail(*unknown);
  }
  if (!has_id && !chosen_without_ids(exec)) return fail(MissingArgument{"ID is required"});
  if (!exec.command && !exec.use_stdin) {
    return fail(MissingArgument{"COMMAND is required unless --stdin is given"});
  }
  exec.max_output = d.max_output;
  exec.gather = d.gather;
  return Cli{std::move(exec)};
}

// The positionals of upload and download: ID, then the first path and the
// second; without IDs, the two paths move up one place.
struct TransferWords {
  std::string id;
  std::string first;
  std::string second;
};

Result<TransferWords, MissingArgument> transfer_words(const Definition& d, const CLI::App* sub,
                                                      bool chosen_without_ids) {
  const auto positionals =
      sub->get_options([](const CLI::Option* option) { return option->get_positional(); });
  // The first positional not given, by the name of the place it belongs in.
  const std::size_t wanted = chosen_without_ids ? 2 : 3;
  for (std::size_t i = 0; i < wanted; ++i) {
    if (positionals[i]->count() > 0) continue;
    return fail(MissingArgument{positionals[i + 3 - wanted]->get_name() + " is required"});
  }
  const std::string& first_value = sub == d.upload ? d.local : d.remote;
  const std::string& second_value = sub == d.upload ? d.remote : d.local;
  if (!chosen_without_ids) return TransferWords{d.id, first_value, second_value};
  if (positionals[2]->count() > 0) {
    return fail(MissingArgument{d.fleet_options.at(sub).query->count() > 0
                                    ? "ID excludes --query"
                                    : "ID excludes --hosts-file"});
  }
  return TransferWords{{}, d.id, first_value};
}

// Checks the moved values as their own places would have.
std::optional<MissingArgument> check_moved(const TransferWords& words, bool upload) {
  const std::string& remote = upload ? words.second : words.first;
  const std::string& local = upload ? words.first : words.second;
  if (!text::is_valid_utf8(remote)) {
    return MissingArgument{"REMOTE: invalid UTF-8 was detected in the value"};
  }
  if (local.empty()) return MissingArgument{"LOCAL: a value is required but none was supplied"};
  return std::nullopt;
}

Result<Cli, MissingArgument> transfer_from(const Definition& d, const CLI::App* sub) {
  FleetOptions fleet = fleet_options_from(d, sub);
  const bool without_ids = chosen_without_ids(fleet);
  auto words = transfer_words(d, sub, without_ids);
  if (!words) return fail(std::move(words).error());
  if (without_ids) {
    if (auto refused = check_moved(*words, sub == d.upload)) return fail(*refused);
  }
  if (!without_ids && !runs_on_several_hosts(fleet, words->id)) {
    if (auto unknown = only_for_several_hosts(d, sub, TRANSFER_SEVERAL_HOSTS_TIP)) {
      return fail(*unknown);
    }
  }
  if (sub == d.upload) {
    Cli::Upload upload({words->id, argument_to_native(words->first), words->second});
    static_cast<FleetOptions&>(upload) = std::move(fleet);
    return Cli{std::move(upload)};
  }
  Cli::Download download({words->id, words->first, argument_to_native(words->second)});
  static_cast<FleetOptions&>(download) = std::move(fleet);
  return Cli{std::move(download)};
}

Result<Cli, MissingArgument> to_cli(Definition& d) {
  const auto selected = d.app.get_subcommands();
  if (selected.empty())
    return fail(MissingArgument{"a subcommand is required but one was not provided"});
  const CLI::App* sub = selected.front();
  if (sub == d.list) {
    std::optional<std::string> query;
    if (d.query_option->count() > 0) query = d.query;
    return Cli{Cli::List{{std::move(query)}, d.json}};
  }
  if (sub == d.exec) return exec_from(d);
  if (sub == d.upload || sub == d.download) return transfer_from(d, sub);
  return fail(MissingArgument{"the subcommand '" + sub->get_name() + "' wasn't recognized"});
}

Result<Cli, ParseOutcome> parse_with(Definition& definition,
                                     std::span<const NativeString> arguments) {
  const HelpFormatter& formatter = *definition.formatter;
  definition.app.name(program_file_name(arguments));
  // With nothing to go on, show what there is to do, as an error.
  if (arguments.size() <= 1) {
    ParseOutcome outcome = help_outcome(formatter, &definition.app, false);
    outcome.to_stdout = false;
    outcome.status = 2;
    return fail(std::move(outcome));
  }
  // CLI11 takes the arguments without the program path, in reverse order.
  std::vector<std::string> reversed;
  for (auto it = arguments.rbegin(); it + 1 != arguments.rend(); ++it)
    reversed.push_back(native_to_argument(*it));
  try {
    definition.app.parse(std::move(reversed));
  } catch (const CLI::CallForHelp&) {
    return fail(help_outcome(formatter, deepest_selected(definition.app), false));
  } catch (const CLI::CallForAllHelp&) {
    return fail(help_outcome(formatter, deepest_selected(definition.app), true));
  } catch (const CLI::CallForVersion& version) {
    return fail(ParseOutcome{std::string(version.what()) + "\n", true, 0});
  } catch (const CLI::ExtrasError& error) {
    const auto message =
        unplaced_word_message(definition.app).value_or(text::utf8_lossy(error.what()));
    return fail(error_outcome(deepest_selected(definition.app), message));
  } catch (const CLI::RequiredError& error) {
    const auto message =
        unplaced_word_message(definition.app).value_or(text::utf8_lossy(error.what()));
    return fail(error_outcome(deepest_selected(definition.app), message));
  } catch (const CLI::ParseError& error) {
    return fail(error_outcome(deepest_selected(definition.app), text::utf8_lossy(error.what())));
  }
  if (definition.help != nullptr && definition.help->parsed())
    return fail(help_subcommand_outcome(definition));
  auto cli = to_cli(definition);
  if (!cli) return fail(error_outcome(deepest_selected(definition.app), cli.error().message));
  return std::move(*cli);
}

CommandShape shape_of(const CLI::App* app) {
  CommandShape shape{app->get_name(), app->get_description(), {}};
  for (const CLI::Option* option : app->get_options()) {
    ArgumentShape argument{
        {}, option->get_description(), option->get_positional(), option->get_expected_max() > 0};
    if (argument.positional) {
      argument.names.push_back(option->get_name());
    } else {
      for (const auto& name : option->get_snames()) argument.names.push_back("-" + name);
      for (const auto& name : option->get_lnames()) argument.names.push_back("--" + name);
    }
    shape.arguments.push_back(std::move(argument));
  }
  return shape;
}

// The subcommand that the first word names exactly, if it is one whose run
// needs no other ("help" lists them all).
std::string first_subcommand(std::span<const NativeString> arguments) {
  if (arguments.size() < 2) return {};
  std::string word = native_to_argument(arguments[1]);
  for (std::string_view name : {"list", "exec", "upload", "download"}) {
    if (word == name) return word;
  }
  return {};
}

}  // namespace

bool runs_on_several_hosts(const FleetOptions& options, std::string_view id) {
  return chosen_without_ids(options) || id.find(',') != std::string_view::npos;
}

bool runs_on_several_hosts(const Cli::Exec& exec) { return runs_on_several_hosts(exec, exec.id); }

std::optional<std::pair<std::uint32_t, std::string>> failure_policy(const FleetOptions& options) {
  if (options.fail_fast) return std::pair{std::uint32_t{1}, std::string("--fail-fast")};
  if (!options.max_fail) return std::nullopt;
  return std::pair{*options.max_fail, "--max-fail " + std::to_string(*options.max_fail)};
}

std::vector<CommandShape> command_shapes() {
  try {
    const auto definition = std::make_unique<Definition>();
    definition->app.name(std::string(PROGRAM_NAME));
    std::vector<CommandShape> shapes{shape_of(&definition->app)};
    for (const CLI::App* sub : definition->app.get_subcommands({})) shapes.push_back(shape_of(sub));
    return shapes;
  } catch (const std::exception&) {
    return {};  // only a broken definition or exhausted memory gets here
  }
}

Result<Cli, ParseOutcome> parse(std::span<const NativeString> arguments, bool define_all) {
  try {
    auto definition =
        std::make_unique<Definition>(define_all ? std::string() : first_subcommand(arguments));
    return parse_with(*definition, arguments);
  } catch (const std::exception& error) {
    // Only a broken definition or exhausted memory gets here.
    return fail(ParseOutcome{"error: " + std::string(error.what()) + "\n", false, 2});
  }
}

}  // namespace sorvane
