#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <memory>
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
    "With several hosts (ID,ID,... or --query) the command runs on each, --parallel at a time, "
    "and every line of output goes to the stream it came on behind its host's name. The exit "
    "code is then 0 when every host exited 0, 255 when any host could not be run (its error line "
    "says why), and 1 otherwise. With --gather (-b), once every host has ended, hosts with the "
    "same output and result are shown once, each group under a header naming its hosts.";
constexpr std::string_view UPLOAD_ABOUT = "Copy a local file or folder to a saved host";
constexpr std::string_view UPLOAD_LONG_ABOUT =
    "Copy a local file or folder to a saved host.\n"
    "\n"
    "Like scp: when the destination is an existing directory the source goes inside it under its "
    "own "
    "name; otherwise the destination is the copy's path. Folders are copied recursively; existing "
    "files are overwritten.";
constexpr std::string_view DOWNLOAD_ABOUT =
    "Copy a file or folder from a saved host to this machine";
constexpr std::string_view DOWNLOAD_LONG_ABOUT =
    "Copy a file or folder from a saved host to this machine.\n"
    "\n"
    "Destination rules are scp's, as for `upload`.";
constexpr std::string_view HELP_ABOUT = "Print this message or the help of the given subcommand(s)";

constexpr std::string_view ID_HELP = "Host ID, from `sorvane list`";
constexpr std::string_view EXEC_ID_HELP =
    "Host ID, from `sorvane list`; several separated by commas";
constexpr std::string_view SEVERAL_HOSTS_TIP =
    "\n\n  tip: it goes with several hosts: ID,ID,... or --query";
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

std::string reject_bad_parallel(std::string& value) {
  unsigned count = 0;
  const char* end = value.data() + value.size();
  const auto [stop, error] = std::from_chars(value.data(), end, count);
  if (error == std::errc() && stop == end && count >= 1 && count <= MOST_PARALLEL) return "";
  return "not a number from 1 to " + std::to_string(MOST_PARALLEL) + ": " + text::utf8_lossy(value);
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

  CLI::App* list = nullptr;
  CLI::App* exec = nullptr;
  CLI::App* upload = nullptr;
  CLI::App* download = nullptr;
  CLI::App* help = nullptr;

  std::string query;
  CLI::Option* query_option = nullptr;
  CLI::Option* command_option = nullptr;
  CLI::Option* exec_id_option = nullptr;
  CLI::Option* exec_query_option = nullptr;
  std::vector<CLI::Option*> several_hosts_options;
  std::string id, command, local, remote;
  bool json = false;
  bool use_stdin = false;
  bool gather = false;
  unsigned parallel = DEFAULT_PARALLEL;  // checked as text first
  std::string timeout;
  std::uint64_t max_output = DEFAULT_MAX_OUTPUT;
  std::vector<std::string> help_path;

 private:
  CLI::App* add_subcommand(std::string_view name, std::string_view about);
  void add_exec();
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
    add_flag(upload, "--json", json, SUMMARY_JSON_HELP);
  }

  if (wanted("download")) {
    download = add_subcommand("download", DOWNLOAD_ABOUT);
    formatter->set_long_about(download, DOWNLOAD_LONG_ABOUT);
    add_id(download);
    add_text(download, "REMOTE", remote, "Remote file or folder. `~` is the login directory");
    add_local(download, "Local destination");
    add_flag(download, "--json", json, SUMMARY_JSON_HELP);
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
  exec_query_option =
      exec->add_option("-q,--query", query,
                       "Run on every host that `sorvane list -q QUERY` shows, instead of ID")
          ->type_name("QUERY")
          ->check(valid_unicode);
  several_hosts_options = {
      add_flag(exec, "--json", json,
               "With several hosts: one JSON object per host and line, as each ends"),
      exec->add_option("--parallel", parallel,
                       "With several hosts: how many run at once (default 8; 1 runs them in turn)")
          ->type_name("N")
          ->check(parallel_count),
      exec->add_option("--timeout", timeout,
                       "With several hosts: stop a host that has not ended after DURATION (30s, "
                       "5m, 1h); listing the hosts first gets as long (default 30s)")
          ->type_name("DURATION")
          ->check(duration),
      exec->add_option("--max-output", max_output,
                       "With --json: bytes of each stream kept per host (default 1048576)")
          ->type_name("BYTES"),
      add_flag(exec, "-b,--gather", gather,
               "With several hosts: once every host has ended, show hosts with the same output "
               "and result once, each group under one header"),
  };
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

// With --query the one positional given is the command.
Result<Cli, MissingArgument> exec_from(const Definition& d) {
  Cli::Exec exec;
  exec.use_stdin = d.use_stdin;
  const bool has_id = d.exec_id_option->count() > 0;
  if (d.command_option->count() > 0) exec.command = d.command;
  if (d.exec_query_option->count() > 0) {
    exec.query = d.query;
    if (has_id && exec.command) return fail(MissingArgument{"ID excludes --query"});
    if (has_id) exec.command = d.id;
    if (exec.command && exec.use_stdin) return fail(MissingArgument{"COMMAND excludes --stdin"});
  } else {
    exec.id = d.id;
  }
  // The options of several hosts are unknown to the one-host form.
  if (!runs_on_several_hosts(exec)) {
    for (const CLI::Option* option : d.several_hosts_options) {
      if (option->count() == 0) continue;
      return fail(MissingArgument{"unexpected argument '" + option->get_name() + "' found" +
                                  std::string(SEVERAL_HOSTS_TIP)});
    }
  }
  if (!has_id && !exec.query) return fail(MissingArgument{"ID is required"});
  if (!exec.command && !exec.use_stdin) {
    return fail(MissingArgument{"COMMAND is required unless --stdin is given"});
  }
  exec.json = d.json;
  exec.parallel = d.parallel;
  if (!d.timeout.empty()) exec.timeout = parse_duration(d.timeout);
  exec.max_output = d.max_output;
  exec.gather = d.gather;
  return Cli{std::move(exec)};
}

Result<Cli, MissingArgument> to_cli(Definition& d) {
  auto require = [](const CLI::App* sub, const char* option,
                    const char* id) -> std::optional<MissingArgument> {
    if (sub->get_option(option)->count() > 0) return std::nullopt;
    return MissingArgument{std::string("the following required argument was not provided: ") + id};
  };
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
  if (sub == d.upload || sub == d.download) {
    for (auto [option, id] : {std::pair{"ID", "id"}, {"LOCAL", "local"}, {"REMOTE", "remote"}}) {
      if (auto missing = require(sub, option, id)) return fail(*missing);
    }
    if (sub == d.upload)
      return Cli{Cli::Upload{{d.id, argument_to_native(d.local), d.remote}, d.json}};
    return Cli{Cli::Download{{d.id, d.remote, argument_to_native(d.local)}, d.json}};
  }
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

bool runs_on_several_hosts(const Cli::Exec& exec) {
  return exec.query.has_value() || exec.id.find(',') != std::string::npos;
}

namespace {

struct DurationUnit {
  std::string_view suffix;
  std::uint64_t milliseconds;
};

// Largest first, which format_duration relies on.
constexpr std::array<DurationUnit, 4> DURATION_UNITS = {{
    {"h", std::uint64_t{60} * 60 * 1000},
    {"m", std::uint64_t{60} * 1000},
    {"s", 1000},
    {"ms", 1},
}};

}  // namespace

std::optional<std::chrono::milliseconds> parse_duration(std::string_view text) {
  std::uint64_t count = 0;
  const char* end = text.data() + text.size();
  const auto [unit, error] = std::from_chars(text.data(), end, count);
  if (error != std::errc() || count == 0) return std::nullopt;
  const std::string_view suffix(unit, static_cast<std::size_t>(end - unit));
  const auto* const named = std::find_if(
      DURATION_UNITS.begin(), DURATION_UNITS.end(),
      [&](const DurationUnit& known) { return known.suffix == (suffix.empty() ? "s" : suffix); });
  if (named == DURATION_UNITS.end()) return std::nullopt;
  // Past a year is a typo, and far from where the count could overflow.
  constexpr std::uint64_t LONGEST = std::uint64_t{366} * 24 * 60 * 60 * 1000;
  if (count > LONGEST / named->milliseconds) return std::nullopt;
  return std::chrono::milliseconds(count * named->milliseconds);
}

std::string format_duration(std::chrono::milliseconds duration) {
  const auto milliseconds = static_cast<std::uint64_t>(std::max<std::int64_t>(duration.count(), 0));
  for (const DurationUnit& unit : DURATION_UNITS) {
    if (milliseconds % unit.milliseconds == 0 && milliseconds >= unit.milliseconds) {
      return std::to_string(milliseconds / unit.milliseconds) + std::string(unit.suffix);
    }
  }
  return std::to_string(milliseconds) + "ms";
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
