#include "mcp/options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <sstream>
#include <vector>

#include "base/version.h"
#include "mcp/tool_catalog.h"
#include "platform/absolute_path.h"
#include "platform/real_path.h"
#include "text/utf8.h"

namespace sorvane::mcp {
namespace {

constexpr const char* DESCRIPTION =
    "sorvane-mcp: the hosts saved in Sorvane as tools for AI agents, over the Model Context "
    "Protocol.\n"
    "Speaks MCP (JSON-RPC, one message per line) on standard input and output and offers the "
    "tools\n"
    "list_hosts, exec, upload and download. Sorvane must be running, with 设置 → 外部 CLI → "
    "启用外部 "
    "CLI turned on.";

// Far more threads than any machine runs usefully, and still a sane number.
constexpr std::uint64_t MAX_CALL_LIMIT = 1024;

// Items separated by commas, white space around each trimmed: "A, B" is A and B.
std::set<std::string> split_list(const std::string& list) {
  constexpr std::string_view BLANKS = " \t\r\n";
  std::set<std::string> items;
  std::istringstream stream(list);
  for (std::string item; std::getline(stream, item, ',');) {
    const auto first = item.find_first_not_of(BLANKS);
    if (first == std::string::npos) continue;
    items.insert(item.substr(first, item.find_last_not_of(BLANKS) - first + 1));
  }
  return items;
}

std::string check_tool_names(const std::string& list) {
  for (const std::string& name : split_list(list)) {
    if (!find_tool(name)) return "unknown tool: " + text::utf8_lossy(name);
  }
  return split_list(list).empty() ? "no tool named" : "";
}

// Decimal digits only, within 64 bits.
std::optional<std::uint64_t> parse_decimal(const std::string& text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::string check_byte_count(const std::string& text) {
  return parse_decimal(text) ? "" : "not a number of bytes: " + text::utf8_lossy(text);
}

// A count of calls, or of hosts, from 1 to the limit.
std::string check_count(const std::string& text, std::string_view what) {
  const auto count = parse_decimal(text);
  return count && *count > 0 && *count <= MAX_CALL_LIMIT
             ? ""
             : "not a number of " + std::string(what) + " from 1 to " +
                   std::to_string(MAX_CALL_LIMIT) + ": " + text::utf8_lossy(text);
}

std::string check_call_limit(const std::string& text) { return check_count(text, "calls"); }
std::string check_parallel(const std::string& text) { return check_count(text, "hosts"); }

std::string check_seconds(const std::string& text) {
  const auto seconds = parse_decimal(text);
  return seconds && *seconds <= MAX_TIMEOUT_SECONDS
             ? ""
             : "not a number of seconds from 0 to " + std::to_string(MAX_TIMEOUT_SECONDS) + ": " +
                   text::utf8_lossy(text);
}

// Tools that act on a host; list_hosts only looks.
std::string check_confirmed_tools(const std::string& list) {
  for (const std::string& name : split_list(list)) {
    if (name != "exec" && name != "upload" && name != "download") {
      return "not a tool to confirm (exec, upload, download): " + text::utf8_lossy(name);
    }
  }
  return split_list(list).empty() ? "no tool named" : "";
}

std::optional<NativePath> absolute_local_path(const std::string& argument) {
  auto absolute = make_absolute(argument_to_native(argument));
  if (!absolute) return std::nullopt;
  return std::move(*absolute);
}

std::string check_local_path(const std::string& argument) {
  return absolute_local_path(argument) ? ""
                                       : "not a usable local path: " + text::utf8_lossy(argument);
}

// A folder the operator allows is meant to exist: a typo would otherwise
// leave every transfer refused, or a folder created later allowed unseen.
std::string check_local_root(const std::string& argument) {
  const auto path = absolute_local_path(argument);
  if (!path) return "not a usable local path: " + text::utf8_lossy(argument);
  if (auto folder = check_existing_folder(*path); !folder) {
    return "no folder to allow at " + text::utf8_lossy(argument) + ": " + folder.error().text;
  }
  return "";
}

// The 16 characters by which the desktop application names a saved host.
bool is_host_id(std::string_view id) {
  constexpr std::size_t HOST_ID_LENGTH = 16;
  const auto allowed = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
           c == '_';
  };
  return id.size() == HOST_ID_LENGTH && std::all_of(id.begin(), id.end(), allowed);
}

std::string check_host_ids(const std::string& list) {
  for (const std::string& id : split_list(list)) {
    if (!is_host_id(id)) {
      return "not a host ID (16 letters, digits, - or _, as list_hosts shows it): " +
             text::utf8_lossy(id);
    }
  }
  return split_list(list).empty() ? "no host ID given" : "";
}

struct Definition {
  CLI::App app{DESCRIPTION, "sorvane-mcp"};
  std::string tools;
  std::string hosts;
  std::string max_output = std::to_string(DEFAULT_MAX_OUTPUT);
  std::string max_calls = std::to_string(DEFAULT_MAX_CALLS);
  std::string parallel = std::to_string(DEFAULT_PARALLEL);
  std::string timeout = std::to_string(DEFAULT_TIMEOUT_SECONDS);
  std::vector<std::string> local_roots;
  std::string confirm;
  std::string audit_log;
  std::string verify_audit;

  Definition() {
    app.set_version_flag("-V,--version", std::string("sorvane-mcp ") + std::string(PROGRAM_VERSION),
                         "Print version");
    app.add_option("--tools", tools,
                   "Offer only these tools (comma-separated: list_hosts,exec,upload,download)")
        ->check(check_tool_names)
        ->option_text("LIST");
    app.add_option("--hosts", hosts, "Allow only these host IDs (comma-separated)")
        ->check(check_host_ids)
        ->option_text("IDS");
    app.add_option("--max-output", max_output,
                   "Bytes of each output stream of exec kept per call (default 65536)")
        ->check(check_byte_count)
        ->option_text("BYTES");
    app.add_option("--max-calls", max_calls,
                   "Tool calls run at once; later calls wait their turn (default 16)")
        ->check(check_call_limit)
        ->option_text("N");
    app.add_option("--parallel", parallel,
                   "Hosts of one exec on several hosts run at once (default 8)")
        ->check(check_parallel)
        ->option_text("N");
    app.add_option(
           "--timeout", timeout,
           "Seconds a call may run, or wait for the desktop application or the client; 0: no limit "
           "(default 600)")
        ->check(check_seconds)
        ->option_text("SECONDS");
    app.add_option("--local-root", local_roots,
                   "Let upload read and download write only inside DIR (repeatable)")
        ->check(check_local_root)
        ->allow_extra_args(false)
        ->option_text("DIR");
    app.add_option("--confirm", confirm,
                   "Ask the user before each call of these tools (comma-separated: "
                   "exec,upload,download)")
        ->check(check_confirmed_tools)
        ->option_text("LIST");
    app.add_option("--audit-log", audit_log,
                   "Append JSON lines for each tool call to FILE (its start, then its outcome), "
                   "each chained to the one before")
        ->check(check_local_path)
        ->option_text("FILE");
    app.add_option("--verify-audit", verify_audit,
                   "Check the chain of an audit log, print the first line that breaks it, and exit")
        ->check(check_local_path)
        ->option_text("FILE");
  }

  Options to_options() const {
    Options options;
    options.tools = split_list(tools);
    if (!hosts.empty()) options.hosts = split_list(hosts);
    options.max_output = parse_decimal(max_output).value_or(DEFAULT_MAX_OUTPUT);
    options.max_calls = parse_decimal(max_calls).value_or(DEFAULT_MAX_CALLS);
    options.parallel = static_cast<unsigned>(parse_decimal(parallel).value_or(DEFAULT_PARALLEL));
    options.timeout_seconds = parse_decimal(timeout).value_or(DEFAULT_TIMEOUT_SECONDS);
    for (const std::string& root : local_roots) {
      if (auto path = absolute_local_path(root)) options.local_roots.push_back(std::move(*path));
    }
    options.confirm = split_list(confirm);
    if (!audit_log.empty()) options.audit_log = absolute_local_path(audit_log);
    if (!verify_audit.empty()) options.verify_audit = absolute_local_path(verify_audit);
    return options;
  }
};

ParseOutcome error_outcome(std::string_view message) {
  return {"error: " + text::utf8_lossy(message) + "\n\nFor more information, try '--help'.\n",
          false, 2};
}

Result<Options, ParseOutcome> parse_with(Definition& definition,
                                         std::span<const NativeString> arguments) {
  std::vector<std::string> reversed;  // CLI11 takes them without the program path, reversed
  for (auto it = arguments.rbegin(); it + 1 < arguments.rend(); ++it) {
    reversed.push_back(native_to_argument(*it));
  }
  try {
    definition.app.parse(std::move(reversed));
  } catch (const CLI::CallForHelp&) {
    return fail(ParseOutcome{definition.app.help(), true, 0});
  } catch (const CLI::CallForAllHelp&) {
    return fail(ParseOutcome{definition.app.help(), true, 0});
  } catch (const CLI::CallForVersion& version) {
    return fail(ParseOutcome{std::string(version.what()) + "\n", true, 0});
  } catch (const CLI::ParseError& error) {
    return fail(error_outcome(error.what()));
  }
  return definition.to_options();
}

}  // namespace

Result<Options, ParseOutcome> parse_options(std::span<const NativeString> arguments) {
  try {
    Definition definition;
    return parse_with(definition, arguments);
  } catch (const std::exception& error) {
    // Only a broken definition or exhausted memory gets here.
    return fail(ParseOutcome{"error: " + std::string(error.what()) + "\n", false, 2});
  }
}

}  // namespace sorvane::mcp
