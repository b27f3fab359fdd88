#include "cli/complete.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>
#include <variant>

#include "ipc/endpoint.h"
#include "output/host_listing.h"
#include "output/inert_text.h"
#include "platform/std_streams.h"
#include "session/hosts.h"
#include "text/unicode.h"

namespace sorvane {
namespace {

// A Tab must never hang the prompt: the desktop application gets this long.
constexpr auto DESKTOP_LIMIT = std::chrono::milliseconds(1000);

constexpr std::string_view END_OF_OPTIONS = "--";
constexpr std::string_view HOST_ID = "ID";
constexpr std::string_view LOCAL_PATH = "LOCAL";
constexpr std::string_view HELP_COMMAND = "help";
// The option that only commands for several hosts have.
constexpr std::string_view HOSTS_FILE_OPTION = "--hosts-file";

// "-" alone is a value (standard input, say), not an option.
bool is_option_word(std::string_view word) { return word.size() > 1 && word.front() == '-'; }

// "--query=web" -> "--query"; "-qweb" -> "-q".
std::string_view option_name(std::string_view word) {
  if (word.starts_with("--")) return word.substr(0, word.find('='));
  return word.substr(0, 2);
}

bool has_attached_value(std::string_view word) {
  return word.starts_with("--") ? word.find('=') != std::string_view::npos : word.size() > 2;
}

const ArgumentShape* find_option(const CommandShape& command, std::string_view name) {
  for (const ArgumentShape& argument : command.arguments) {
    if (!argument.positional && std::ranges::find(argument.names, name) != argument.names.end())
      return &argument;
  }
  return nullptr;
}

// Where the words before the cursor left the command line.
struct Position {
  const CommandShape* command = nullptr;  // the top level until a subcommand is named
  bool subcommand_named = false;
  bool options_ended = false;   // after "--" every word is a value
  bool value_expected = false;  // the previous word was an option that takes one
  std::size_t positionals = 0;
  std::vector<const ArgumentShape*> used;
};

std::optional<Position> locate(std::span<const std::string> before,
                               std::span<const CommandShape> shapes) {
  Position at;
  at.command = &shapes.front();
  for (const std::string& word : before) {
    if (at.value_expected) {
      at.value_expected = false;
    } else if (!at.options_ended && word == END_OF_OPTIONS) {
      at.options_ended = true;
    } else if (!at.options_ended && is_option_word(word)) {
      if (const ArgumentShape* option = find_option(*at.command, option_name(word))) {
        at.used.push_back(option);
        at.value_expected = option->takes_value && !has_attached_value(word);
      }
    } else if (!at.subcommand_named) {
      const auto subcommands = shapes.subspan(1);
      auto sub = std::ranges::find(subcommands, word, &CommandShape::name);
      if (sub == subcommands.end()) return std::nullopt;  // the parser would refuse the line
      at.command = &*sub;
      at.subcommand_named = true;
    } else {
      ++at.positionals;
    }
  }
  return at;
}

std::vector<Candidate> matching_options(const Position& at, std::string_view word) {
  std::vector<Candidate> offered;
  for (const ArgumentShape& argument : at.command->arguments) {
    if (argument.positional || std::ranges::find(at.used, &argument) != at.used.end()) continue;
    for (const std::string& name : argument.names) {
      if (name.starts_with(word)) offered.push_back({name, argument.help});
    }
  }
  return offered;
}

std::vector<Candidate> matching_subcommands(std::span<const CommandShape> shapes,
                                            std::string_view word) {
  std::vector<Candidate> offered;
  for (const CommandShape& sub : shapes.subspan(1)) {
    if (sub.name.starts_with(word)) offered.push_back({sub.name, sub.about});
  }
  return offered;
}

bool is_named(const ArgumentShape& argument, std::string_view name) {
  return std::ranges::find(argument.names, name) != argument.names.end();
}

// exec, upload and download, which take ID,ID,...
bool runs_on_several_hosts(const CommandShape& command) {
  return std::ranges::any_of(command.arguments, [](const ArgumentShape& argument) {
    return is_named(argument, HOSTS_FILE_OPTION);
  });
}

// With --query or --hosts-file a command chooses its hosts itself: its
// first positional is the one after the ID.
bool chosen_without_ids(const Position& at) {
  return runs_on_several_hosts(*at.command) &&
         std::ranges::any_of(at.used, [](const ArgumentShape* option) {
           return is_named(*option, "--query") || is_named(*option, HOSTS_FILE_OPTION);
         });
}

// The value name of the positional the cursor is on; empty past the last.
std::string_view positional_slot(const Position& at) {
  const std::size_t wanted = at.positionals + (chosen_without_ids(at) ? 1 : 0);
  std::size_t index = 0;
  for (const ArgumentShape& argument : at.command->arguments) {
    if (argument.positional && index++ == wanted) return argument.names.front();
  }
  return {};
}

// An ID goes onto the command line unquoted: only offer those that can.
bool is_plain_word(std::string_view id) {
  return !id.empty() && std::ranges::all_of(id, [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
           c == '_' || c == '.';
  });
}

std::string describe(const HostInfo& host) {
  std::string description = host.name;
  if (host.group && !host.group->empty()) description.append(", ").append(*host.group);
  description.append(", ").append(host_address(host));
  return description;
}

// Whether `id` is one of the comma-separated items of `list`.
bool is_listed(std::string_view list, std::string_view id) {
  for (std::size_t start = 0; start < list.size();) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    if (list.substr(start, comma - start) == id) return true;
    start = comma + 1;
  }
  return false;
}

// With `several`, the IDs before the word's last comma stay, and the one
// after it is completed among the hosts not listed yet.
std::vector<Candidate> matching_hosts(const HostSource& hosts, std::string_view word,
                                      bool several) {
  const std::size_t last_comma = several ? word.rfind(',') : std::string_view::npos;
  const std::string_view listed = word.substr(0, last_comma + 1);
  const std::string wanted = text::to_lower_full(word.substr(listed.size()));
  std::vector<Candidate> offered;
  for (const HostInfo& host : hosts()) {
    if (!is_plain_word(host.id)) continue;
    if (is_listed(listed, host.id)) continue;
    if (text::to_lower_full(host.id).starts_with(wanted) ||
        text::to_lower_full(host.name).starts_with(wanted)) {
      offered.push_back({std::string(listed) + host.id, describe(host)});
    }
  }
  return offered;
}

// Opening, asking and reading all end by one deadline: a desktop
// application that is busy, or accepts and never answers, offers nothing.
std::vector<HostInfo> hosts_from_desktop() {
  auto listed = list_hosts(pipe_name(data_dir()), std::nullopt, DESKTOP_LIMIT);
  if (!listed) return {};
  return std::move(*listed);
}

}  // namespace

Completion complete(std::span<const std::string> words, std::span<const CommandShape> shapes,
                    const HostSource& hosts) {
  if (words.size() < 2 || shapes.empty()) return {};
  const std::string_view word = words.back();
  const auto at = locate(words.subspan(1, words.size() - 2), shapes);
  if (!at || at->value_expected) return {};
  if (!at->options_ended && word.starts_with('-')) return {matching_options(*at, word)};
  if (!at->subcommand_named) return {matching_subcommands(shapes, word)};
  if (at->command->name == HELP_COMMAND) {
    if (at->positionals > 0) return {};
    auto offered = matching_subcommands(shapes, word);
    std::erase_if(offered, [](const Candidate& c) { return c.value == HELP_COMMAND; });
    return {offered};
  }
  const std::string_view slot = positional_slot(*at);
  if (slot == HOST_ID) return {matching_hosts(hosts, word, runs_on_several_hosts(*at->command))};
  if (slot == LOCAL_PATH) return {{}, true};
  // Past the last positional only options are left to offer.
  if (slot.empty() && word.empty() && !at->options_ended) return {matching_options(*at, word)};
  return {};  // remote paths and commands are the remote side's business
}

std::string render(const Completion& completion) {
  if (completion.local_paths) return ":files\n";
  std::string lines;
  for (const Candidate& candidate : completion.candidates) {
    lines += candidate.value;
    // Inert, a host's tab or line feed cannot end the description early.
    if (!candidate.description.empty()) lines.append("\t").append(inert(candidate.description));
    lines += '\n';
  }
  return lines;
}

std::vector<HostInfo> hosts_from(ByteReader& from_peer, ByteWriter& to_peer) {
  auto listed = list_hosts(from_peer, to_peer, std::nullopt);
  if (!listed) return {};
  return std::move(*listed);
}

std::uint32_t run_completion(std::span<const NativeString> words) {
  std::string lines;
  try {
    std::vector<std::string> texts;
    for (const NativeString& word : words) texts.push_back(native_to_argument(word));
    const std::vector<CommandShape> shapes = command_shapes();
    lines = render(complete(texts, shapes, hosts_from_desktop));
  } catch (const std::exception&) {
    return 0;  // out of memory: offer nothing rather than a message
  }
  StdOutputStream out(StdStream::Output);
  (void)out.write_all(as_bytes(lines));
  return 0;
}

}  // namespace sorvane
